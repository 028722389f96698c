#include "VolumeSetForm.h"

#include "DebugLog.h"

#include <algorithm>
#include <cmath>

TVolumeSetForm::TVolumeSetForm(std::unique_ptr<IVolumeEndpoint> endpoint, std::unique_ptr<IVolumeMixer> mixer)
    : m_endpoint(std::move(endpoint))
    , m_mixer(std::move(mixer))
{
    WriteLog(QStringLiteral("VolumeSetForm"));
    if (m_mixer && m_mixer->Open()) {
        m_mixerFound = true;
        m_available = true;
        m_minimum = m_mixer->Minimum();
        m_maximum = m_mixer->Maximum();
        // A control with fewer than 100 steps (many cards have 0..63 or 0..87) would give a step
        // of 0 and a division by zero; one unit per percent is the closest the control allows.
        m_step = std::max<std::uint32_t>(1, (m_maximum - m_minimum) / 100);
    }
    Acquire();
}

void TVolumeSetForm::Acquire()
{
    // The default output is looked up before every operation, so a headset plugged in
    // between two alarms is the device the next alarm sets.
    if (m_endpoint && m_endpoint->Acquire()) {
        m_useEndpoint = true;
        m_available = true;
        return;
    }
    m_useEndpoint = false;
    m_available = m_mixerFound;
}

bool TVolumeSetForm::ReadVolume()
{
    if (m_useEndpoint) {
        const std::optional<double> scalar = m_endpoint->GetScalar();
        if (!scalar)
            return false;
        // A server may amplify beyond full volume; the percent scale ends at 100.
        m_volume = static_cast<unsigned>(std::clamp(std::lround(*scalar * 100.0), 0L, 100L));
        return true;
    }
    const std::optional<std::uint32_t> value = m_mixer->GetValue();
    if (!value)
        return false;
    m_mixerValue = *value;
    m_volume = m_mixerValue / m_step;
    return true;
}

bool TVolumeSetForm::ReadMute()
{
    if (m_useEndpoint) {
        // The hardware mixer is not consulted here: on a sound server its master control is
        // often the server itself, or missing in a container, and neither must block the change.
        const std::optional<bool> muted = m_endpoint->GetMute();
        if (!muted)
            return false;
        m_muted = *muted;
        return true;
    }
    const std::optional<std::uint32_t> value = m_mixer->GetMuteValue();
    if (!value)
        return false;
    m_muted = *value != 0;
    return true;
}

unsigned TVolumeSetForm::GetVolume()
{
    Acquire();
    if (!m_available || !ReadVolume())
        return 0;
    return m_volume;
}

bool TVolumeSetForm::GetMute()
{
    Acquire();
    if (!m_available || !ReadMute())
        return false;
    return m_muted;
}

void TVolumeSetForm::SetEndpointPercent(unsigned percent)
{
    m_volume = percent;
    m_endpoint->SetScalar(percent * 0.01);
    ReadVolume();
}

void TVolumeSetForm::WriteMixerValue(std::uint32_t value)
{
    if (m_mixer->SetValue(value))
        m_mixerValue = value;
    m_volume = value / m_step;
}

void TVolumeSetForm::SetVolume(unsigned percent)
{
    if (percent >= 100) {
        VolumeUp(100);
        return;
    }
    if (percent == 0) {
        VolumeDown(100);
        return;
    }
    Acquire();
    if (!m_available || !ReadVolume())
        return;
    if (m_useEndpoint)
        SetEndpointPercent(percent);
    else
        WriteMixerValue(std::clamp(percent * m_step, m_minimum, m_maximum));
    ReadMute();
}

void TVolumeSetForm::VolumeUp(unsigned percent)
{
    if (percent < 1 || percent > 100)
        return;
    Acquire();
    if (!m_available || !ReadVolume())
        return;
    if (m_useEndpoint) {
        SetEndpointPercent(std::min(m_volume + percent, 100u));
    } else {
        const std::uint64_t raised = std::uint64_t{m_mixerValue} + std::uint64_t{percent} * m_step;
        WriteMixerValue(static_cast<std::uint32_t>(std::min<std::uint64_t>(raised, m_maximum)));
    }
    ReadMute();
}

void TVolumeSetForm::VolumeDown(unsigned percent)
{
    if (percent < 1 || percent > 100)
        return;
    Acquire();
    if (!m_available || !ReadVolume())
        return;
    if (m_useEndpoint) {
        SetEndpointPercent(m_volume > percent ? m_volume - percent : 0);
    } else {
        const std::uint32_t lowered = m_mixerValue - percent * m_step; // may wrap below zero
        const bool wrapped = lowered > m_mixerValue;
        WriteMixerValue(wrapped || lowered < m_minimum ? m_minimum : lowered);
    }
    ReadMute();
}

void TVolumeSetForm::SetMute(bool muted)
{
    Acquire();
    if (!m_available || !ReadMute())
        return;
    if (muted == m_muted)
        return;
    m_muted = muted;
    // On the server path only the server's mute is written. The hardware mixer's mute is left
    // alone: it is often the server itself seen through the sound library's plug-in, and
    // clearing it would undo the mute that restoring the volume after an alarm puts back.
    if (m_useEndpoint)
        m_endpoint->SetMute(muted);
    else
        m_mixer->SetMuteValue(muted ? 1 : 0);
    ReadVolume();
}
