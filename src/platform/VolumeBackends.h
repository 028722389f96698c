#pragma once

#include <cstdint>
#include <memory>
#include <optional>

// The two ways to reach the master output volume. TVolumeSetForm holds the percent
// arithmetic; these only read and write what the system has.

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
