#pragma once

#include "platform/VolumeBackends.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

/**
 * The master output volume in percent, as alarms, the sound player's save and restore and the
 * editor's preview set it. Two paths: the sound server's default output (the endpoint; used
 * whenever a server answers) and the hardware mixer (used when none does).
 *
 * The system is talked to only on this object's own worker thread, one call after the other in the
 * order they were made, so a sound server that does not answer delays the changes but never the
 * caller: changes return at once, and reads return the last value the worker saw (0 / false while
 * nothing is known, nothing is available or the last read failed) and ask it for a fresh one.
 * Everything but the worker runs on the main thread, which also receives the signals.
 */
class TVolumeSetForm final : public QObject
{
    Q_OBJECT

public:
    /** How long the destructor lets queued changes (an alarm's restore) reach the system. */
    static constexpr int kExitFlushMs = 500;

    /** Either back end may be empty. */
    TVolumeSetForm(std::unique_ptr<IVolumeEndpoint> endpoint, std::unique_ptr<IVolumeMixer> mixer,
                   QObject* parent = nullptr);
    /** Waits up to kExitFlushMs for queued changes, then drops the rest. */
    ~TVolumeSetForm() override;
    TVolumeSetForm(const TVolumeSetForm&) = delete;
    TVolumeSetForm& operator=(const TVolumeSetForm&) = delete;

    /** Last known master volume 0..100; 0 when unavailable or the last read failed. */
    unsigned GetVolume();
    /** Last known mute state; false when unavailable or the last read failed. */
    bool GetMute();
    /** 100 and above mean 100 (through VolumeUp), 0 means 0 (through VolumeDown). */
    void SetVolume(unsigned percent);
    void SetMute(bool muted);
    /** Raises by percent (1..100, else ignored), at most to 100. */
    void VolumeUp(unsigned percent);
    /** Lowers by percent (1..100, else ignored), at least to 0. */
    void VolumeDown(unsigned percent);

    /** Reads the volume and mute as they are, unrounded and per channel, for the next RestoreState. */
    void SaveState();
    /**
     * Puts back what the last SaveState read, once, no sooner than delay from now; nothing when that read
     * failed. Changes made after this call wait behind it.
     */
    void RestoreState(std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    /** Waits until every queued change has been made, at most timeoutMs; false on time-out. For the exit path. */
    bool Flush(int timeoutMs);

    /**
     * True once the first look at the system, made right after construction, is done: from then on GetVolume
     * gives what the system said (or the 0 of unavailable), not the 0 of not yet known. A caller that takes the
     * volume as a default for something lasting (a new alarm's Volume) can tell the two apart with this.
     */
    bool Ready() const;
    bool Available() const;
    /** True when the last operation went through the sound server rather than the mixer. */
    bool UsesEndpoint() const;
    /** Mixer units per percent. */
    std::uint32_t Step() const;

signals:
    /** A change could not be made, the first time since changes last worked; text is for the user. */
    void failed(const QString& text);
    /** A change worked again after failed. */
    void recovered();

private:
    class Worker;
    enum class Outcome { Done, Failed, Skipped };
    void JobFinished(Outcome outcome);

    std::unique_ptr<Worker> m_worker;
    bool m_failing = false; // failed was emitted and no change has worked since
};
