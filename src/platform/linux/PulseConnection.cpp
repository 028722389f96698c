#include "platform/linux/PulseConnection.h"

#include <utility>

PulseConnection::PulseConnection(std::string clientName)
    : m_clientName(std::move(clientName))
    , m_loop(pa_threaded_mainloop_new())
{
    if (m_loop && pa_threaded_mainloop_start(m_loop) == 0)
        m_running = true;
}

PulseConnection::~PulseConnection()
{
    Shutdown();
    if (m_loop)
        pa_threaded_mainloop_free(m_loop);
}

void PulseConnection::Shutdown()
{
    if (!m_running)
        return;
    {
        Lock lock(*this);
        DisconnectLocked();
        m_handler = nullptr;
    }
    pa_threaded_mainloop_stop(m_loop);
    m_running = false;
}

PulseConnection::Lock::Lock(PulseConnection& connection)
    : m_loop(connection.m_loop)
{
    pa_threaded_mainloop_lock(m_loop);
}

PulseConnection::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(m_loop);
}

void PulseConnection::Timer::StartLocked(std::chrono::milliseconds delay, std::function<void()> fire)
{
    StopLocked();
    m_fire = std::move(fire);
    m_event = m_connection.NewTimeEventLocked(delay, &Timer::OnFire, this);
}

void PulseConnection::Timer::StopLocked()
{
    if (m_event) {
        pa_threaded_mainloop_get_api(m_connection.m_loop)->time_free(m_event);
        m_event = nullptr;
    }
    m_fire = nullptr;
}

void PulseConnection::Timer::OnFire(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* userdata)
{
    auto* self = static_cast<Timer*>(userdata);
    api->time_free(event);
    self->m_event = nullptr;
    // Moved out first: the callback may restart this very timer.
    const std::function<void()> fire = std::move(self->m_fire);
    self->m_fire = nullptr;
    if (fire)
        fire();
}

pa_time_event* PulseConnection::NewTimeEventLocked(std::chrono::milliseconds delay, pa_time_event_cb_t callback,
                                                   void* userdata)
{
    const auto usec = static_cast<pa_usec_t>(delay.count()) * PA_USEC_PER_MSEC;
    // The context's clock is monotonic, so a clock change cannot stretch a wait; without a context the
    // wall clock has to do.
    if (m_context)
        return pa_context_rttime_new(m_context, pa_rtclock_now() + usec, callback, userdata);
    struct timeval when {
    };
    pa_gettimeofday(&when);
    pa_timeval_add(&when, usec);
    return pa_threaded_mainloop_get_api(m_loop)->time_new(pa_threaded_mainloop_get_api(m_loop), &when, callback,
                                                          userdata);
}

bool PulseConnection::ReadyLocked() const
{
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseConnection::GoodLocked() const
{
    return m_context && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context));
}

bool PulseConnection::ConnectLocked(std::chrono::milliseconds timeout)
{
    if (!m_running)
        return false;
    if (GoodLocked())
        return true;
    DisconnectLocked();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Larkbell");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "larkbell");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), m_clientName.c_str(), props);
    pa_proplist_free(props);
    if (!m_context) {
        m_lastError = PA_ERR_INTERNAL;
        return false;
    }
    m_wasReady = false;
    pa_context_set_state_callback(m_context, &PulseConnection::OnContextState, this);
    // No autospawn: starting a sound server is the desktop's business, and a spawn attempt can take far
    // longer than an alarm may wait.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        m_lastError = pa_context_errno(m_context);
        DisconnectLocked();
        return false;
    }
    m_attemptTimer.StartLocked(timeout, [this] {
        if (ReadyLocked())
            return;
        DisconnectLocked();
        m_lastError = PA_ERR_TIMEOUT;
        NotifyLocked(Event::AttemptFailed, PA_ERR_TIMEOUT);
    });
    return true;
}

bool PulseConnection::ConnectAndWaitLocked(std::chrono::milliseconds timeout)
{
    if (!ConnectLocked(timeout))
        return false;
    WaitLocked(
        [this] {
            return !m_context || pa_context_get_state(m_context) == PA_CONTEXT_READY ||
                   !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context));
        },
        timeout);
    if (ReadyLocked())
        return true;
    if (m_context) {
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
            m_lastError = PA_ERR_TIMEOUT;
        DisconnectLocked();
    }
    return false;
}

void PulseConnection::DisconnectLocked()
{
    m_attemptTimer.StopLocked();
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    m_wasReady = false;
}

bool PulseConnection::WaitLocked(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    struct Alarm {
        pa_threaded_mainloop* loop;
        bool rang = false;
    } alarm{m_loop};
    pa_time_event* event = NewTimeEventLocked(
        timeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            auto* a = static_cast<Alarm*>(userdata);
            a->rang = true;
            pa_threaded_mainloop_signal(a->loop, 0);
        },
        &alarm);
    if (!event)
        return done();
    while (!done() && !alarm.rang && !m_abandoned)
        pa_threaded_mainloop_wait(m_loop);
    pa_threaded_mainloop_get_api(m_loop)->time_free(event);
    return done();
}

bool PulseConnection::RequestLocked(pa_operation* operation, std::chrono::milliseconds timeout)
{
    if (!operation)
        return false;
    pa_operation_set_state_callback(
        operation, [](pa_operation*, void* userdata) { static_cast<PulseConnection*>(userdata)->SignalLocked(); },
        this);
    const bool finished =
        WaitLocked([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
    const bool done = finished && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    if (!finished)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (!finished)
        DisconnectLocked();
    return done;
}

void PulseConnection::SignalLocked()
{
    pa_threaded_mainloop_signal(m_loop, 0);
}

void PulseConnection::Abandon()
{
    m_abandoned = true;
    if (!m_running)
        return;
    Lock lock(*this);
    SignalLocked();
}

void PulseConnection::NotifyLocked(Event event, int error)
{
    if (m_handler)
        m_handler(event, error);
    SignalLocked();
}

void PulseConnection::OnContextState(pa_context* context, void* userdata)
{
    auto* self = static_cast<PulseConnection*>(userdata);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        self->m_attemptTimer.StopLocked();
        self->m_wasReady = true;
        self->NotifyLocked(Event::Ready, 0);
        return;
    }
    if (PA_CONTEXT_IS_GOOD(state)) {
        self->SignalLocked();
        return;
    }
    // The failed context stays until the next attempt replaces it: it is not freed from inside its own callback.
    self->m_attemptTimer.StopLocked();
    self->m_lastError = pa_context_errno(context);
    const bool lost = self->m_wasReady;
    self->m_wasReady = false;
    self->NotifyLocked(lost ? Event::Lost : Event::AttemptFailed, self->m_lastError);
}
