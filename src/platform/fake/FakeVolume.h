#pragma once

#include "platform/VolumeBackends.h"

#include <cstdint>
#include <memory>

// Volume back ends that keep their state in memory, for tests of the percent arithmetic on
// machines without a sound card. The state is shared, so a test keeps a handle after handing
// the back end to TVolumeSetForm.

struct FakeEndpointState {
    bool serverAnswers = true;
    bool readsFail = false;
    double scalar = 1.0;
    bool muted = false;
    int acquires = 0;
    int scalarReads = 0;
    int scalarWrites = 0;
    int muteWrites = 0;
};

class FakeVolumeEndpoint final : public IVolumeEndpoint
{
public:
    explicit FakeVolumeEndpoint(std::shared_ptr<FakeEndpointState> state);
    bool Acquire() override;
    std::optional<double> GetScalar() override;
    bool SetScalar(double scalar) override;
    std::optional<bool> GetMute() override;
    bool SetMute(bool muted) override;

private:
    std::shared_ptr<FakeEndpointState> m_state;
};

struct FakeMixerState {
    bool present = true;
    bool readsFail = false;
    bool hasMute = true;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 65535;
    std::uint32_t value = 0;
    std::uint32_t muteValue = 0;
    int opens = 0;
    int valueWrites = 0;
    int muteWrites = 0;
};

class FakeVolumeMixer final : public IVolumeMixer
{
public:
    explicit FakeVolumeMixer(std::shared_ptr<FakeMixerState> state);
    bool Open() override;
    std::uint32_t Minimum() const override;
    std::uint32_t Maximum() const override;
    std::optional<std::uint32_t> GetValue() override;
    bool SetValue(std::uint32_t value) override;
    std::optional<std::uint32_t> GetMuteValue() override;
    bool SetMuteValue(std::uint32_t value) override;

private:
    std::shared_ptr<FakeMixerState> m_state;
};
