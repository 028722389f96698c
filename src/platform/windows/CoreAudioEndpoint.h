#pragma once

#include "platform/VolumeBackends.h"

#include <windows.h>

#include <endpointvolume.h>

#include <functional>

/**
 * The master volume of the default output device through Core Audio's IAudioEndpointVolume. Acquire
 * looks the default render endpoint (console role) up again and replaces the reference, so calling it
 * before every change (TVolumeSetForm does) follows a change of the default device between alarms.
 * COM is initialised on the creating thread for the object's lifetime if nobody did it before.
 */
class CoreAudioEndpoint final : public IVolumeEndpoint
{
public:
    /** A new reference to the endpoint volume interface of the current default output, or nullptr. */
    using Acquirer = std::function<IAudioEndpointVolume*()>;

    /** The event context passed with volume changes, so that our own notifications can be told apart. */
    static const GUID kEventContext;

    explicit CoreAudioEndpoint(Acquirer acquire = AcquireDefault);
    ~CoreAudioEndpoint() override;

    bool Acquire() override;
    std::optional<double> GetScalar() override;
    bool SetScalar(double scalar) override;
    std::optional<bool> GetMute() override;
    bool SetMute(bool muted) override;

    /** The result of the last call on the interface; for the debug log and tests. */
    HRESULT LastResult() const { return m_lastResult; }

    /** The system's default render endpoint (console role), through the device enumerator. */
    static IAudioEndpointVolume* AcquireDefault();

private:
    void release();

    Acquirer m_acquire;
    IAudioEndpointVolume* m_volume = nullptr;
    bool m_uninitialize = false;
    HRESULT m_lastResult = S_OK;
};
