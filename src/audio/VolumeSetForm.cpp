#include "audio/VolumeSetForm.h"

#include "core/mglib/DebugLog.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

enum class VolumeOp { Open, Refresh, Set, Up, Down, Mute, Save, Restore };

struct VolumeJob {
    VolumeOp op = VolumeOp::Refresh;
    unsigned percent = 0;
    bool muted = false;
    SteadyClock::time_point notBefore{};
};

const char* OpName(VolumeOp op)
{
    switch (op) {
    case VolumeOp::Open:
        return "open";
    case VolumeOp::Refresh:
        return "read";
    case VolumeOp::Set:
        return "set";
    case VolumeOp::Up:
        return "raise";
    case VolumeOp::Down:
        return "lower";
    case VolumeOp::Mute:
        return "mute";
    case VolumeOp::Save:
        return "save";
    case VolumeOp::Restore:
        return "restore";
    }
    return "?";
}

// What the main thread may read without asking the system.
struct Published {
    bool ready = false; // the first look at the back ends is done
    bool available = false;
    bool useEndpoint = false;
    unsigned volume = 0;
    bool muted = false;
    std::uint32_t step = 0;
};

// The volume and mute read by SaveState, in the units of the path it was read through.
struct SavedState {
    bool viaEndpoint = false;
    SavedVolume endpoint;
    std::uint32_t mixerValue = 0;
    std::optional<std::uint32_t> mixerMute;
};

} // namespace

// Owns the back ends and the only thread that calls them. The percent arithmetic below runs there.
class TVolumeSetForm::Worker final
{
public:
    Worker(TVolumeSetForm* owner, std::unique_ptr<IVolumeEndpoint> endpoint, std::unique_ptr<IVolumeMixer> mixer)
        : m_owner(owner)
        , m_endpoint(std::move(endpoint))
        , m_mixer(std::move(mixer))
        , m_thread([this] { Run(); })
    {}

    ~Worker() { Shutdown(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Push(VolumeJob job)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            // Collapse what has not started yet: a dragged slider or a read asked for over and over must not
            // pile up behind a server that answers slowly.
            if (job.op == VolumeOp::Refresh && std::any_of(m_queue.begin(), m_queue.end(), [](const VolumeJob& j) {
                    return j.op == VolumeOp::Refresh;
                }))
                return;
            if (!m_queue.empty() && m_queue.back().op == job.op &&
                (job.op == VolumeOp::Set || job.op == VolumeOp::Mute)) {
                m_queue.back() = job;
                return;
            }
            m_queue.push_back(job);
        }
        m_wake.notify_all();
    }

    bool Flush(int timeoutMs)
    {
        std::unique_lock lock(m_mutex);
        return m_idle.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                               [this] { return m_queue.empty() && !m_busy; });
    }

    Published Read() const
    {
        std::lock_guard lock(m_mutex);
        return m_published;
    }

    // Drops what is still queued, makes a call in progress give up and ends the thread.
    void Shutdown()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_queue.clear();
        }
        m_wake.notify_all();
        if (m_endpoint)
            m_endpoint->Abandon();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                break;
            // A delayed job (the restore after an alarm) holds back the jobs queued behind it.
            if (m_wake.wait_until(lock, m_queue.front().notBefore, [this] { return m_stop; }))
                break;
            const VolumeJob job = m_queue.front();
            m_queue.pop_front();
            m_busy = true;
            lock.unlock();
            Outcome outcome = Outcome::Failed;
            try {
                outcome = Execute(job);
            } catch (...) {
                // A back end that throws fails this one change; the next one tries again.
            }
            if (outcome == Outcome::Failed)
                WriteLog(QStringLiteral("Volume: %1 failed, %2")
                             .arg(QLatin1String(OpName(job.op)),
                                  !m_available    ? QStringLiteral("no sound server or mixer answers")
                                  : m_useEndpoint ? QStringLiteral("the sound server did not do it")
                                                  : QStringLiteral("the mixer did not do it")));
            if (outcome != Outcome::Skipped) {
                TVolumeSetForm* owner = m_owner;
                QMetaObject::invokeMethod(
                    owner, [owner, outcome] { owner->JobFinished(outcome); }, Qt::QueuedConnection);
            }
            lock.lock();
            m_busy = false;
            m_published = Publish();
            if (m_queue.empty())
                m_idle.notify_all();
        }
        m_busy = false;
        m_idle.notify_all();
    }

    Outcome Execute(const VolumeJob& job)
    {
        switch (job.op) {
        case VolumeOp::Open:
            Open();
            m_opened = true;
            return Outcome::Skipped;
        case VolumeOp::Refresh:
            Acquire();
            if (m_available) {
                ReadVolume();
                ReadMute();
            }
            return Outcome::Skipped;
        case VolumeOp::Set:
            return SetVolume(job.percent);
        case VolumeOp::Up:
            return VolumeUp(job.percent);
        case VolumeOp::Down:
            return VolumeDown(job.percent);
        case VolumeOp::Mute:
            return SetMute(job.muted);
        case VolumeOp::Save:
            return Save();
        case VolumeOp::Restore:
            return Restore();
        }
        return Outcome::Skipped;
    }

    Published Publish() const
    {
        Published p;
        p.ready = m_opened;
        p.available = m_available;
        p.useEndpoint = m_useEndpoint;
        p.volume = m_available && m_volumeRead ? m_volume : 0;
        p.muted = m_available && m_muteRead && m_muted;
        p.step = m_step;
        return p;
    }

    void Open()
    {
        Acquire();
        if (m_available) {
            ReadVolume();
            ReadMute();
        }
    }

    void Acquire()
    {
        // The default output is looked up before every operation, so a headset plugged in
        // between two alarms is the device the next alarm sets.
        if (m_endpoint && m_endpoint->Acquire()) {
            m_useEndpoint = true;
            m_available = true;
            return;
        }
        m_useEndpoint = false;
        openMixer();
        m_available = m_mixerFound;
    }

    // Opened the first time no sound server answers, not before: where a server plays, the card's
    // mixer would only hold a device and the mixer library's configuration for the program's life.
    void openMixer()
    {
        if (m_mixerTried)
            return;
        m_mixerTried = true;
        if (m_mixer && m_mixer->Open()) {
            m_mixerFound = true;
            m_minimum = m_mixer->Minimum();
            m_maximum = m_mixer->Maximum();
            // A control with fewer than 100 steps (many cards have 0..63 or 0..87) would give a step
            // of 0 and a division by zero; one unit per percent is the closest the control allows.
            m_step = std::max<std::uint32_t>(1, (m_maximum - m_minimum) / 100);
        }
    }

    bool ReadVolume()
    {
        m_volumeRead = false;
        if (m_useEndpoint) {
            const std::optional<double> scalar = m_endpoint->GetScalar();
            if (!scalar)
                return false;
            // A server may amplify beyond full volume; the percent scale ends at 100.
            m_volume = static_cast<unsigned>(std::clamp(std::lround(*scalar * 100.0), 0L, 100L));
        } else {
            const std::optional<std::uint32_t> value = m_mixer->GetValue();
            if (!value)
                return false;
            m_mixerValue = *value;
            m_volume = m_mixerValue / m_step;
        }
        m_volumeRead = true;
        return true;
    }

    bool ReadMute()
    {
        m_muteRead = false;
        if (m_useEndpoint) {
            // The hardware mixer is not consulted here: on a sound server its master control is
            // often the server itself, or missing in a container, and neither must block the change.
            const std::optional<bool> muted = m_endpoint->GetMute();
            if (!muted)
                return false;
            m_muted = *muted;
        } else {
            const std::optional<std::uint32_t> value = m_mixer->GetMuteValue();
            if (!value)
                return false;
            m_muted = *value != 0;
        }
        m_muteRead = true;
        return true;
    }

    bool SetEndpointPercent(unsigned percent)
    {
        m_volume = percent;
        const bool written = m_endpoint->SetScalar(percent * 0.01);
        ReadVolume();
        return written;
    }

    bool WriteMixerValue(std::uint32_t value)
    {
        const bool written = m_mixer->SetValue(value);
        if (written)
            m_mixerValue = value;
        m_volume = value / m_step;
        return written;
    }

    Outcome SetVolume(unsigned percent)
    {
        if (percent >= 100)
            return VolumeUp(100);
        if (percent == 0)
            return VolumeDown(100);
        Acquire();
        if (!m_available || !ReadVolume())
            return Outcome::Failed;
        const bool written = m_useEndpoint ? SetEndpointPercent(percent)
                                           : WriteMixerValue(std::clamp(percent * m_step, m_minimum, m_maximum));
        ReadMute();
        return written ? Outcome::Done : Outcome::Failed;
    }

    Outcome VolumeUp(unsigned percent)
    {
        if (percent < 1 || percent > 100)
            return Outcome::Skipped;
        Acquire();
        if (!m_available || !ReadVolume())
            return Outcome::Failed;
        bool written = false;
        if (m_useEndpoint) {
            written = SetEndpointPercent(std::min(m_volume + percent, 100u));
        } else {
            const std::uint64_t raised = std::uint64_t{m_mixerValue} + std::uint64_t{percent} * m_step;
            written = WriteMixerValue(static_cast<std::uint32_t>(std::min<std::uint64_t>(raised, m_maximum)));
        }
        ReadMute();
        return written ? Outcome::Done : Outcome::Failed;
    }

    Outcome VolumeDown(unsigned percent)
    {
        if (percent < 1 || percent > 100)
            return Outcome::Skipped;
        Acquire();
        if (!m_available || !ReadVolume())
            return Outcome::Failed;
        bool written = false;
        if (m_useEndpoint) {
            written = SetEndpointPercent(m_volume > percent ? m_volume - percent : 0);
        } else {
            const std::uint32_t lowered = m_mixerValue - percent * m_step; // may wrap below zero
            const bool wrapped = lowered > m_mixerValue;
            written = WriteMixerValue(wrapped || lowered < m_minimum ? m_minimum : lowered);
        }
        ReadMute();
        return written ? Outcome::Done : Outcome::Failed;
    }

    Outcome SetMute(bool muted)
    {
        Acquire();
        if (!m_available)
            return Outcome::Failed;
        if (!ReadMute()) {
            // Many mixers have no mute switch at all, which is nothing to report.
            return m_useEndpoint ? Outcome::Failed : Outcome::Skipped;
        }
        if (muted == m_muted)
            return Outcome::Done;
        m_muted = muted;
        // On the server path only the server's mute is written. The hardware mixer's mute is left
        // alone: it is often the server itself seen through the sound library's plug-in, and
        // clearing it would undo the mute that restoring the volume after an alarm puts back.
        const bool written = m_useEndpoint ? m_endpoint->SetMute(muted) : m_mixer->SetMuteValue(muted ? 1 : 0);
        ReadVolume();
        return written ? Outcome::Done : Outcome::Failed;
    }

    Outcome Save()
    {
        m_saved.reset();
        Acquire();
        if (!m_available)
            return Outcome::Failed;
        SavedState saved;
        saved.viaEndpoint = m_useEndpoint;
        if (m_useEndpoint) {
            std::optional<SavedVolume> volume = m_endpoint->SaveVolume();
            if (!volume)
                return Outcome::Failed;
            saved.endpoint = std::move(*volume);
        } else {
            const std::optional<std::uint32_t> value = m_mixer->GetValue();
            if (!value)
                return Outcome::Failed;
            saved.mixerValue = *value;
            saved.mixerMute = m_mixer->GetMuteValue();
        }
        m_saved = std::move(saved);
        return Outcome::Done;
    }

    Outcome Restore()
    {
        if (!m_saved)
            return Outcome::Skipped; // the save failed and said so
        const SavedState saved = std::move(*m_saved);
        m_saved.reset();
        bool written = false;
        if (saved.viaEndpoint) {
            written = m_endpoint->RestoreVolume(saved.endpoint);
        } else {
            written = m_mixer->SetValue(saved.mixerValue);
            if (saved.mixerMute)
                written = m_mixer->SetMuteValue(*saved.mixerMute) && written;
        }
        Acquire();
        if (m_available) {
            ReadVolume();
            ReadMute();
        }
        return written ? Outcome::Done : Outcome::Failed;
    }

    TVolumeSetForm* m_owner;

    // Worker thread only.
    std::unique_ptr<IVolumeEndpoint> m_endpoint;
    std::unique_ptr<IVolumeMixer> m_mixer;
    bool m_opened = false; // Open has run
    bool m_mixerTried = false;
    bool m_mixerFound = false;
    bool m_available = false;
    bool m_useEndpoint = false;
    unsigned m_volume = 0;          // last known master volume, percent
    bool m_volumeRead = false;      // m_volume came from a read that worked
    bool m_muted = false;           // last known mute state
    bool m_muteRead = false;        // m_muted came from a read that worked
    std::uint32_t m_mixerValue = 0; // last read or written mixer volume value
    std::uint32_t m_minimum = 0;
    std::uint32_t m_maximum = 0;
    std::uint32_t m_step = 0;
    std::optional<SavedState> m_saved;

    // Shared with the main thread, under m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // a job was queued, or the thread is to end
    std::condition_variable m_idle; // the queue ran empty
    std::deque<VolumeJob> m_queue;
    bool m_busy = false; // a job is running
    bool m_stop = false;
    Published m_published;

    std::thread m_thread; // last: starts once everything above exists
};

TVolumeSetForm::TVolumeSetForm(std::unique_ptr<IVolumeEndpoint> endpoint, std::unique_ptr<IVolumeMixer> mixer,
                               QObject* parent)
    : QObject(parent)
    , m_worker(std::make_unique<Worker>(this, std::move(endpoint), std::move(mixer)))
{
    WriteLog(QStringLiteral("VolumeSetForm"));
    m_worker->Push({VolumeOp::Open});
}

TVolumeSetForm::~TVolumeSetForm()
{
    if (!m_worker->Flush(kExitFlushMs))
        WriteLog(QStringLiteral("Volume: the sound system did not take the last changes in time; dropped"));
    m_worker->Shutdown();
}

void TVolumeSetForm::JobFinished(Outcome outcome)
{
    if (outcome == Outcome::Failed && !m_failing) {
        m_failing = true;
        emit failed(QStringLiteral("The system volume could not be set: the sound system does not answer."));
    } else if (outcome == Outcome::Done && m_failing) {
        m_failing = false;
        emit recovered();
    }
}

unsigned TVolumeSetForm::GetVolume()
{
    m_worker->Push({VolumeOp::Refresh});
    return m_worker->Read().volume;
}

bool TVolumeSetForm::GetMute()
{
    m_worker->Push({VolumeOp::Refresh});
    return m_worker->Read().muted;
}

void TVolumeSetForm::SetVolume(unsigned percent)
{
    m_worker->Push({VolumeOp::Set, percent});
}

void TVolumeSetForm::SetMute(bool muted)
{
    m_worker->Push({VolumeOp::Mute, 0, muted});
}

void TVolumeSetForm::VolumeUp(unsigned percent)
{
    m_worker->Push({VolumeOp::Up, percent});
}

void TVolumeSetForm::VolumeDown(unsigned percent)
{
    m_worker->Push({VolumeOp::Down, percent});
}

void TVolumeSetForm::SaveState()
{
    m_worker->Push({VolumeOp::Save});
}

void TVolumeSetForm::RestoreState(std::chrono::milliseconds delay)
{
    m_worker->Push({VolumeOp::Restore, 0, false, SteadyClock::now() + delay});
}

bool TVolumeSetForm::Flush(int timeoutMs)
{
    return m_worker->Flush(timeoutMs);
}

bool TVolumeSetForm::Ready() const
{
    return m_worker->Read().ready;
}

bool TVolumeSetForm::Available() const
{
    return m_worker->Read().available;
}

bool TVolumeSetForm::UsesEndpoint() const
{
    return m_worker->Read().useEndpoint;
}

std::uint32_t TVolumeSetForm::Step() const
{
    return m_worker->Read().step;
}
