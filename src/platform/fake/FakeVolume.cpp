#include "platform/fake/FakeVolume.h"

#include <utility>

FakeVolumeEndpoint::FakeVolumeEndpoint(std::shared_ptr<FakeEndpointState> state)
    : m_state(std::move(state))
{}

bool FakeVolumeEndpoint::Acquire()
{
    ++m_state->acquires;
    return m_state->serverAnswers;
}

std::optional<double> FakeVolumeEndpoint::GetScalar()
{
    ++m_state->scalarReads;
    if (!m_state->serverAnswers || m_state->readsFail)
        return std::nullopt;
    return m_state->scalar;
}

bool FakeVolumeEndpoint::SetScalar(double scalar)
{
    if (!m_state->serverAnswers)
        return false;
    ++m_state->scalarWrites;
    m_state->scalar = scalar;
    return true;
}

std::optional<bool> FakeVolumeEndpoint::GetMute()
{
    if (!m_state->serverAnswers || m_state->readsFail)
        return std::nullopt;
    return m_state->muted;
}

bool FakeVolumeEndpoint::SetMute(bool muted)
{
    if (!m_state->serverAnswers)
        return false;
    ++m_state->muteWrites;
    m_state->muted = muted;
    return true;
}

FakeVolumeMixer::FakeVolumeMixer(std::shared_ptr<FakeMixerState> state)
    : m_state(std::move(state))
{}

bool FakeVolumeMixer::Open()
{
    ++m_state->opens;
    return m_state->present;
}
std::uint32_t FakeVolumeMixer::Minimum() const
{
    return m_state->minimum;
}
std::uint32_t FakeVolumeMixer::Maximum() const
{
    return m_state->maximum;
}

std::optional<std::uint32_t> FakeVolumeMixer::GetValue()
{
    if (m_state->readsFail)
        return std::nullopt;
    return m_state->value;
}

bool FakeVolumeMixer::SetValue(std::uint32_t value)
{
    ++m_state->valueWrites;
    m_state->value = value;
    return true;
}

std::optional<std::uint32_t> FakeVolumeMixer::GetMuteValue()
{
    if (m_state->readsFail || !m_state->hasMute)
        return std::nullopt;
    return m_state->muteValue;
}

bool FakeVolumeMixer::SetMuteValue(std::uint32_t value)
{
    if (!m_state->hasMute)
        return false;
    ++m_state->muteWrites;
    m_state->muteValue = value;
    return true;
}
