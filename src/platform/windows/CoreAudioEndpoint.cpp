#include "platform/windows/CoreAudioEndpoint.h"

#include <mmdeviceapi.h>

#include <algorithm>

// {00000000-0000-0000-C000-000000000046}
const GUID CoreAudioEndpoint::kEventContext = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

CoreAudioEndpoint::CoreAudioEndpoint(Acquirer acquire)
    : m_acquire(std::move(acquire))
{
    // Qt's main thread is already a single-threaded apartment (S_FALSE, balanced all the same); a thread
    // in the multi-threaded apartment answers RPC_E_CHANGED_MODE and can use the interfaces as it is.
    const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_uninitialize = SUCCEEDED(result);
}

CoreAudioEndpoint::~CoreAudioEndpoint()
{
    release();
    if (m_uninitialize)
        ::CoUninitialize();
}

void CoreAudioEndpoint::release()
{
    if (m_volume) {
        m_volume->Release();
        m_volume = nullptr;
    }
}

IAudioEndpointVolume* CoreAudioEndpoint::AcquireDefault()
{
    IMMDeviceEnumerator* enumerator = nullptr;
    if (FAILED(::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator))))
        return nullptr;
    IMMDevice* device = nullptr;
    const HRESULT found = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
    enumerator->Release();
    if (FAILED(found))
        return nullptr;
    IAudioEndpointVolume* volume = nullptr;
    const HRESULT activated = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                               reinterpret_cast<void**>(&volume));
    device->Release();
    return SUCCEEDED(activated) ? volume : nullptr;
}

bool CoreAudioEndpoint::Acquire()
{
    release();
    m_volume = m_acquire ? m_acquire() : nullptr;
    return m_volume != nullptr;
}

std::optional<double> CoreAudioEndpoint::GetScalar()
{
    if (!m_volume)
        return std::nullopt;
    float scalar = 0;
    m_lastResult = m_volume->GetMasterVolumeLevelScalar(&scalar);
    if (FAILED(m_lastResult))
        return std::nullopt;
    return scalar;
}

bool CoreAudioEndpoint::SetScalar(double scalar)
{
    if (!m_volume)
        return false;
    const float level = static_cast<float>(std::clamp(scalar, 0.0, 1.0));
    m_lastResult = m_volume->SetMasterVolumeLevelScalar(level, &kEventContext);
    return SUCCEEDED(m_lastResult);
}

std::optional<bool> CoreAudioEndpoint::GetMute()
{
    if (!m_volume)
        return std::nullopt;
    BOOL muted = FALSE;
    m_lastResult = m_volume->GetMute(&muted);
    if (FAILED(m_lastResult))
        return std::nullopt;
    return muted != FALSE;
}

bool CoreAudioEndpoint::SetMute(bool muted)
{
    if (!m_volume)
        return false;
    m_lastResult = m_volume->SetMute(muted ? TRUE : FALSE, nullptr);
    return SUCCEEDED(m_lastResult);
}
