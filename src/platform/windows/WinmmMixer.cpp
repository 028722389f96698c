#include "platform/windows/WinmmMixer.h"

namespace {

HMIXEROBJ AsObject(HMIXER mixer)
{
    return reinterpret_cast<HMIXEROBJ>(mixer);
}

std::optional<MIXERCONTROLW> FindControl(HMIXER mixer, DWORD line, DWORD type)
{
    MIXERCONTROLW control{};
    control.cbStruct = sizeof control;
    MIXERLINECONTROLSW controls{};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = line;
    controls.dwControlType = type;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof control;
    controls.pamxctrl = &control;
    if (::mixerGetLineControlsW(AsObject(mixer), &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE | MIXER_OBJECTF_HMIXER) !=
        MMSYSERR_NOERROR)
        return std::nullopt;
    return control;
}

} // namespace

WinmmMixer::~WinmmMixer()
{
    if (m_mixer)
        ::mixerClose(m_mixer);
}

bool WinmmMixer::Open()
{
    if (m_open)
        return true;
    if (!m_mixer && ::mixerOpen(&m_mixer, 0, 0, 0, MIXER_OBJECTF_MIXER) != MMSYSERR_NOERROR) {
        m_mixer = nullptr;
        return false;
    }
    MIXERCAPSW caps{};
    if (::mixerGetDevCapsW(0, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return false;
    for (DWORD destination = 0; destination < caps.cDestinations; ++destination) {
        MIXERLINEW line{};
        line.cbStruct = sizeof line;
        line.dwDestination = destination;
        if (::mixerGetLineInfoW(AsObject(m_mixer), &line, MIXER_GETLINEINFOF_DESTINATION | MIXER_OBJECTF_HMIXER) !=
            MMSYSERR_NOERROR)
            continue;
        if (line.dwComponentType != MIXERLINE_COMPONENTTYPE_DST_SPEAKERS)
            continue;
        const std::optional<MIXERCONTROLW> volume =
            FindControl(m_mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
        if (!volume)
            return false;
        m_volumeControl = volume->dwControlID;
        m_minimum = volume->Bounds.dwMinimum;
        m_maximum = volume->Bounds.dwMaximum;
        if (const std::optional<MIXERCONTROLW> mute =
                FindControl(m_mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE))
            m_muteControl = mute->dwControlID;
        m_open = true;
        return true;
    }
    return false;
}

std::optional<std::uint32_t> WinmmMixer::readControl(DWORD control)
{
    // One channel: the mixer answers with the value common to all of them (the first channel's).
    MIXERCONTROLDETAILS_UNSIGNED value{};
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = control;
    details.cChannels = 1;
    details.cbDetails = sizeof value;
    details.paDetails = &value;
    if (::mixerGetControlDetailsW(AsObject(m_mixer), &details, MIXER_GETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_HMIXER) !=
        MMSYSERR_NOERROR)
        return std::nullopt;
    return value.dwValue;
}

bool WinmmMixer::writeControl(DWORD control, std::uint32_t value)
{
    // Boolean and unsigned details are both one 32-bit value per channel.
    MIXERCONTROLDETAILS_UNSIGNED detail{};
    detail.dwValue = value;
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = control;
    details.cChannels = 1;
    details.cbDetails = sizeof detail;
    details.paDetails = &detail;
    return ::mixerSetControlDetails(AsObject(m_mixer), &details,
                                    MIXER_SETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_HMIXER) == MMSYSERR_NOERROR;
}

std::optional<std::uint32_t> WinmmMixer::GetValue()
{
    if (!m_open)
        return std::nullopt;
    return readControl(m_volumeControl);
}

bool WinmmMixer::SetValue(std::uint32_t value)
{
    return m_open && writeControl(m_volumeControl, value);
}

std::optional<std::uint32_t> WinmmMixer::GetMuteValue()
{
    if (!m_open || !m_muteControl)
        return std::nullopt;
    const std::optional<std::uint32_t> value = readControl(*m_muteControl);
    if (!value)
        return std::nullopt;
    return *value != 0 ? 1u : 0u;
}

bool WinmmMixer::SetMuteValue(std::uint32_t value)
{
    return m_open && m_muteControl && writeControl(*m_muteControl, value != 0 ? 1 : 0);
}
