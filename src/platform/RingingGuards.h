#pragma once

#include <memory>

/**
 * Pauses the desktop's media players while an alarm rings and starts again the ones it paused. Nothing here
 * waits for a player: a frozen one must not hold up the alarm. Belongs to the thread that created it, which
 * runs an event loop.
 */
class MediaPause
{
public:
    MediaPause() = default;
    virtual ~MediaPause() = default;
    MediaPause(const MediaPause&) = delete;
    MediaPause& operator=(const MediaPause&) = delete;

    /** Pauses every player that is playing now, and remembers what each was playing. */
    virtual void PausePlayers() = 0;
    /**
     * Plays again the players PausePlayers paused that are still paused on the same track: one the user
     * started, stopped or moved on meanwhile is left as the user left it. Forgets them all.
     */
    virtual void ResumePlayers() = 0;
};

/** Keeps the computer from going to sleep while held; the system may not offer it, then nothing happens. */
class SleepInhibitor
{
public:
    SleepInhibitor() = default;
    virtual ~SleepInhibitor() = default; // releases
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    /** Asks for the hold; returns at once, the system answers later. */
    virtual void Hold() = 0;
    /** Lets go of the hold, or of the answer still to come. */
    virtual void Release() = 0;
    /** True while the system grants the hold. */
    virtual bool Held() const = 0;
};

/** The operating system's ways; nullptr where it has none. */
std::unique_ptr<MediaPause> CreateMediaPause();
std::unique_ptr<SleepInhibitor> CreateSleepInhibitor();

/**
 * What a ringing alarm holds: the media players paused and sleep kept away. Sleep is held only while the
 * alarm rings. The players stay paused through a snooze, until the alarm is dismissed for good or its snooze
 * is cancelled, so that music does not start and stop again between two rings. Either part may be missing.
 */
class RingingGuards final
{
public:
    RingingGuards(std::unique_ptr<MediaPause> media, std::unique_ptr<SleepInhibitor> sleep);
    ~RingingGuards(); // as a dismissal
    RingingGuards(const RingingGuards&) = delete;
    RingingGuards& operator=(const RingingGuards&) = delete;

    enum class State { Idle, Ringing, Snoozed };

    void Ringing();
    void Snoozed();
    void Dismissed();
    /** The snooze was cancelled, or the program ends while snoozed: as a dismissal then, else nothing. */
    void SnoozeCancelled();
    State CurrentState() const { return m_state; }

private:
    std::unique_ptr<MediaPause> m_media;
    std::unique_ptr<SleepInhibitor> m_sleep;
    State m_state = State::Idle;
};
