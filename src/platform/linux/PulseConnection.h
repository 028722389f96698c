#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

/**
 * A client connection to the PulseAudio (or PipeWire pulse) server, served by its own threaded main
 * loop. The sound output and the volume endpoint each own one.
 *
 * Members ending in Locked expect the caller to hold the loop lock (a PulseConnection::Lock); the loop
 * thread holds it too while it runs callbacks, so callbacks may call them directly. Nothing here waits
 * without a bound: a frozen server makes an attempt fail instead of hanging its caller. No server is
 * ever spawned.
 */
class PulseConnection final
{
public:
    enum class Event {
        Ready,         // an attempt to connect succeeded
        AttemptFailed, // an attempt to connect failed or timed out
        Lost,          // a ready connection broke
    };
    /** Called on the loop thread, lock held. error is a PA_ERR_ code (PA_ERR_TIMEOUT for a time-out), 0 when ready. */
    using EventHandler = std::function<void(Event event, int error)>;

    explicit PulseConnection(std::string clientName);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    /** False when the loop thread could not be started; nothing connects then. */
    bool Running() const { return m_running; }
    /** Drops the connection and ends the loop thread; afterwards no callback runs. Idempotent. */
    void Shutdown();

    class Lock final
    {
    public:
        explicit Lock(PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_loop;
    };

    /** A one-shot timer run on the loop thread. Start, stop and destruction need the lock (or a stopped loop). */
    class Timer final
    {
    public:
        explicit Timer(PulseConnection& connection)
            : m_connection(connection)
        {}
        ~Timer() { StopLocked(); }
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;

        /** (Re)arms the timer; fire runs once, lock held, unless stopped first. */
        void StartLocked(std::chrono::milliseconds delay, std::function<void()> fire);
        void StopLocked();
        bool ActiveLocked() const { return m_event != nullptr; }

    private:
        static void OnFire(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* userdata);

        PulseConnection& m_connection;
        pa_time_event* m_event = nullptr;
        std::function<void()> m_fire;
    };

    /** Set before the first attempt; replaced or cleared only with the lock held. */
    void SetEventHandlerLocked(EventHandler handler) { m_handler = std::move(handler); }

    pa_context* ContextLocked() const { return m_context; }
    bool ReadyLocked() const;
    /** Ready, or an attempt under way. */
    bool GoodLocked() const;
    /**
     * Starts connecting unless ready or already connecting, and returns at once; the outcome comes through the event
     * handler. An attempt that is not ready within timeout is dropped as failed with PA_ERR_TIMEOUT. False (with
     * LastErrorLocked) when the attempt could not even start.
     */
    bool ConnectLocked(std::chrono::milliseconds timeout);
    /** ConnectLocked, then waits for its outcome; true when ready. */
    bool ConnectAndWaitLocked(std::chrono::milliseconds timeout);
    /** PA_ERR_ code of the last failed attempt or lost connection. */
    int LastErrorLocked() const { return m_lastError; }
    void DisconnectLocked();

    /** Waits, the lock released meanwhile, until done() holds, timeout has passed or the connection is abandoned. */
    bool WaitLocked(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    /**
     * Runs operation to its end (it may be null: a request that could not be sent) and says whether it completed.
     * A server that does not answer in time is disconnected, so that the next request connects afresh instead of
     * queueing behind one that will never finish.
     */
    bool RequestLocked(pa_operation* operation, std::chrono::milliseconds timeout);
    /** Wakes every WaitLocked so that it looks at its condition again. */
    void SignalLocked();

    /** Makes every wait, the current one and all later ones, give up at once. Any thread; for tear-down. */
    void Abandon();

private:
    static void OnContextState(pa_context* context, void* userdata);
    pa_time_event* NewTimeEventLocked(std::chrono::milliseconds delay, pa_time_event_cb_t callback, void* userdata);
    void NotifyLocked(Event event, int error);

    std::string m_clientName;
    pa_threaded_mainloop* m_loop = nullptr;
    bool m_running = false;
    pa_context* m_context = nullptr;
    bool m_wasReady = false; // the current context reached READY, so a failure now is a loss
    int m_lastError = 0;
    EventHandler m_handler;
    Timer m_attemptTimer{*this};
    std::atomic<bool> m_abandoned{false};
};
