#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The two ways to reach the master output volume. TVolumeSetForm holds the percent
// arithmetic; these only read and write what the system has. TVolumeSetForm calls them from its own
// worker thread, one call at a time, so a back end may wait (within a bound) for the system to answer.

/** An output's volume exactly as the system holds it, to be put back after an alarm. */
struct SavedVolume {
    std::string device;                  // the output it was read from; empty for the default output
    std::vector<std::uint32_t> channels; // per channel in the back end's own units; empty when it knows only the scalar
    double scalar = 0;                   // loudest channel, 1.0 = full (normal) volume
    bool muted = false;
};

/** The default output device of the sound server, followed across device changes. */
class IVolumeEndpoint
{
public:
    virtual ~IVolumeEndpoint() = default;
    IVolumeEndpoint(const IVolumeEndpoint&) = delete;
    IVolumeEndpoint& operator=(const IVolumeEndpoint&) = delete;

    /** Looks up the current default output again; false when no sound server answers. */
    virtual bool Acquire() = 0;
    /** Master volume of the acquired output, 1.0 = full (normal) volume; empty when the read fails. */
    virtual std::optional<double> GetScalar() = 0;
    /** Sets every channel so that the loudest one is at scalar, keeping the balance. */
    virtual bool SetScalar(double scalar) = 0;
    virtual std::optional<bool> GetMute() = 0;
    virtual bool SetMute(bool muted) = 0;

    /** Volume and mute of the acquired output, unrounded and per channel where the system has channels. */
    virtual std::optional<SavedVolume> SaveVolume()
    {
        const std::optional<double> scalar = GetScalar();
        const std::optional<bool> muted = GetMute();
        if (!scalar || !muted)
            return std::nullopt;
        SavedVolume saved;
        saved.scalar = *scalar;
        saved.muted = *muted;
        return saved;
    }
    /** Puts a saved volume and mute back on the output it was read from, exactly, amplification above 1.0 included. */
    virtual bool RestoreVolume(const SavedVolume& saved)
    {
        const bool volumeSet = SetScalar(saved.scalar);
        const bool muteSet = SetMute(saved.muted);
        return volumeSet && muteSet;
    }
    /** Makes a call in progress on another thread, and every later one, give up at once. Any thread; for tear-down. */
    virtual void Abandon() {}

protected:
    IVolumeEndpoint() = default;
};

/** A hardware mixer's master volume control in its own units, and its mute. */
class IVolumeMixer
{
public:
    virtual ~IVolumeMixer() = default;
    IVolumeMixer(const IVolumeMixer&) = delete;
    IVolumeMixer& operator=(const IVolumeMixer&) = delete;

    /** Finds the master control; false when the system has none. */
    virtual bool Open() = 0;
    /** Range of the volume control (valid after Open). */
    virtual std::uint32_t Minimum() const = 0;
    virtual std::uint32_t Maximum() const = 0;
    virtual std::optional<std::uint32_t> GetValue() = 0;
    virtual bool SetValue(std::uint32_t value) = 0;
    /** Mute control value: 1 muted, 0 not; empty when there is no mute control or the read fails. */
    virtual std::optional<std::uint32_t> GetMuteValue() = 0;
    virtual bool SetMuteValue(std::uint32_t value) = 0;

protected:
    IVolumeMixer() = default;
};

/** The sound server's default output; empty when this system has no such back end. */
std::unique_ptr<IVolumeEndpoint> CreateSystemVolumeEndpoint();
/** The hardware mixer's master control; empty when this system has no such back end. */
std::unique_ptr<IVolumeMixer> CreateSystemVolumeMixer();
