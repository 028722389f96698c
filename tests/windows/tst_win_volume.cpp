// System volume on Windows: the winmm mixer's speakers line with the percent arithmetic, Core Audio
// reads on the system's default output, and the Core Audio write path on a test double.
#include "TestKit.h"

#include "platform/windows/CoreAudioEndpoint.h"
#include "platform/windows/MixerArithmetic.h"
#include "platform/windows/WinmmMixer.h"

#include <cmath>
#include <memory>
#include <vector>

namespace {

void mixerArithmetic()
{
    CHECK_EQ(MixerArithmetic::Step(0, 65535), 655u);
    CHECK_EQ(MixerArithmetic::ValueFor(50, 655, 0, 65535), 32750u);
    CHECK_EQ(MixerArithmetic::PercentOf(32750, 655), 50u);
    CHECK_EQ(MixerArithmetic::ValueFor(100, 655, 0, 65535), 65500u);
    CHECK_EQ(MixerArithmetic::PercentOf(65535, 655), 100u);
    CHECK_EQ(MixerArithmetic::Raised(32750, 100, 655, 65535), 65535u);
    CHECK_EQ(MixerArithmetic::Raised(0, 100, 655, 65535), 65500u);
    CHECK_EQ(MixerArithmetic::Lowered(32750, 10, 655, 0), 26200u);
    // 32750 - 100 x 655 wraps below zero to a huge unsigned value: it becomes the minimum.
    CHECK_EQ(MixerArithmetic::Lowered(32750, 100, 655, 0), 0u);
    CHECK_EQ(MixerArithmetic::Lowered(1500, 1, 10, 1000), 1490u);
    CHECK_EQ(MixerArithmetic::Lowered(1005, 1, 10, 1000), 1000u);
    CHECK_EQ(MixerArithmetic::ValueFor(5, 10, 1000, 2000), 1000u);
    // A control with fewer than 100 steps still has one unit per percent.
    CHECK_EQ(MixerArithmetic::Step(0, 63), 1u);
}

void winmmMixerSpeakersLine()
{
    WinmmMixer mixer;
    if (!CHECK(mixer.Open()))
        return;
    CHECK_EQ(mixer.Minimum(), 0u);
    CHECK_EQ(mixer.Maximum(), 65535u);
    const std::uint32_t step = MixerArithmetic::Step(mixer.Minimum(), mixer.Maximum());
    CHECK_EQ(step, 655u);
    const std::optional<std::uint32_t> before = mixer.GetValue();
    CHECK(before.has_value());

    // 50 % is written as 32750 and read back as 50.
    CHECK(mixer.SetValue(MixerArithmetic::ValueFor(50, step, mixer.Minimum(), mixer.Maximum())));
    CHECK_EQ(mixer.GetValue(), std::optional<std::uint32_t>(32750));
    CHECK_EQ(MixerArithmetic::PercentOf(mixer.GetValue().value_or(0), step), 50u);

    // Lowering by 100 % wraps below zero and ends at the minimum.
    CHECK(mixer.SetValue(MixerArithmetic::Lowered(*mixer.GetValue(), 100, step, mixer.Minimum())));
    CHECK_EQ(mixer.GetValue(), std::optional<std::uint32_t>(0));
    CHECK_EQ(MixerArithmetic::PercentOf(mixer.GetValue().value_or(1), step), 0u);

    // Raising by 100 % from there stops at 100 x step, which reads as 100.
    CHECK(mixer.SetValue(MixerArithmetic::Raised(*mixer.GetValue(), 100, step, mixer.Maximum())));
    CHECK_EQ(mixer.GetValue(), std::optional<std::uint32_t>(65500));
    CHECK_EQ(MixerArithmetic::PercentOf(mixer.GetValue().value_or(0), step), 100u);

    const std::optional<std::uint32_t> mute = mixer.GetMuteValue();
    CHECK(mute.has_value());
    CHECK(mixer.SetMuteValue(1));
    CHECK_EQ(mixer.GetMuteValue(), std::optional<std::uint32_t>(1));
    CHECK(mixer.SetMuteValue(0));
    CHECK_EQ(mixer.GetMuteValue(), std::optional<std::uint32_t>(0));

    if (before)
        mixer.SetValue(*before);
    if (mute)
        mixer.SetMuteValue(*mute);
}

void coreAudioReadsTheDefaultOutput()
{
    CoreAudioEndpoint endpoint;
    if (!CHECK(endpoint.Acquire()))
        return;
    const std::optional<double> scalar = endpoint.GetScalar();
    CHECK(scalar.has_value());
    if (scalar) {
        CHECK(*scalar >= 0.0 && *scalar <= 1.0);
        std::printf("  default output at %.0f %%\n", *scalar * 100.0);
    }
    const std::optional<bool> muted = endpoint.GetMute();
    CHECK(muted.has_value());
    // The mute write works on the system, and so does reading it back.
    if (muted) {
        CHECK(endpoint.SetMute(!*muted));
        CHECK_EQ(endpoint.GetMute(), std::optional<bool>(!*muted));
        CHECK(endpoint.SetMute(*muted));
        CHECK_EQ(endpoint.GetMute(), muted);
    }
    // Acquiring again (before every change) gives a working reference each time.
    CHECK(endpoint.Acquire());
    CHECK(endpoint.GetScalar().has_value());
}

void coreAudioVolumeWriteOnTheSystem()
{
    // WORKAROUND: Wine answers SetMasterVolumeLevelScalar with E_NOTIMPL, so the write is checked on a
    // test double below; here it must either work or report that failure.
    CoreAudioEndpoint endpoint;
    if (!CHECK(endpoint.Acquire()))
        return;
    const std::optional<double> before = endpoint.GetScalar();
    const bool written = endpoint.SetScalar(before.value_or(1.0));
    std::printf("  SetMasterVolumeLevelScalar: HRESULT 0x%08lx%s\n", static_cast<unsigned long>(endpoint.LastResult()),
                endpoint.LastResult() == E_NOTIMPL ? " (E_NOTIMPL: not implemented by this system)" : "");
    CHECK(written || endpoint.LastResult() == E_NOTIMPL);
}

// COM interfaces have no virtual destructor: objects delete themselves in Release, as this one does.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
/** An IAudioEndpointVolume that keeps its state in memory and records what it was asked. */
class FakeEndpointVolume final : public IAudioEndpointVolume
{
public:
    struct Log {
        int alive = 0;
        std::vector<float> levels;
        std::vector<GUID> levelContexts;
        std::vector<bool> contextWasNull;
        int muteWrites = 0;
        bool muteContextWasNull = true;
    };

    FakeEndpointVolume(Log& log, float level, bool muted)
        : m_log(log)
        , m_level(level)
        , m_muted(muted)
    {
        ++m_log.alive;
    }
    ~FakeEndpointVolume() { --m_log.alive; }
    FakeEndpointVolume(const FakeEndpointVolume&) = delete;
    FakeEndpointVolume& operator=(const FakeEndpointVolume&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IAudioEndpointVolume)) {
            *object = static_cast<IAudioEndpointVolume*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* count) override
    {
        *count = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float level, LPCGUID context) override
    {
        if (level < 0.0f || level > 1.0f)
            return E_INVALIDARG;
        m_level = level;
        m_log.levels.push_back(level);
        m_log.contextWasNull.push_back(context == nullptr);
        m_log.levelContexts.push_back(context ? *context : GUID{});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* level) override
    {
        *level = m_level;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMute(BOOL muted, LPCGUID context) override
    {
        m_muted = muted != FALSE;
        ++m_log.muteWrites;
        m_log.muteContextWasNull = context == nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMute(BOOL* muted) override
    {
        *muted = m_muted ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolumeRange(float*, float*, float*) override { return E_NOTIMPL; }

private:
    Log& m_log;
    ULONG m_references = 1;
    float m_level;
    bool m_muted;
};
#pragma GCC diagnostic pop

void coreAudioWritePathOnATestDouble()
{
    FakeEndpointVolume::Log log;
    int acquisitions = 0;
    {
        CoreAudioEndpoint endpoint([&]() -> IAudioEndpointVolume* {
            ++acquisitions;
            return new FakeEndpointVolume(log, 0.25f, true);
        });
        CHECK(!endpoint.GetScalar().has_value()); // nothing acquired yet
        CHECK(!endpoint.SetScalar(0.5));
        CHECK(endpoint.Acquire());
        CHECK_EQ(endpoint.GetScalar(), std::optional<double>(0.25));
        CHECK_EQ(endpoint.GetMute(), std::optional<bool>(true));

        CHECK(endpoint.SetScalar(0.5));
        CHECK_EQ(log.levels.size(), 1u);
        if (!log.levels.empty()) {
            CHECK_EQ(log.levels[0], 0.5f);
            CHECK(!log.contextWasNull[0]);
            CHECK(log.levelContexts[0] == CoreAudioEndpoint::kEventContext);
            // {00000000-0000-0000-C000-000000000046}
            const GUID expected = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
            CHECK(log.levelContexts[0] == expected);
        }
        CHECK_EQ(endpoint.GetScalar(), std::optional<double>(0.5));
        // Percent steps come through as scalars p x 0.01 and read back as round(s x 100).
        CHECK(endpoint.SetScalar(37 * 0.01));
        CHECK_EQ(std::lround(endpoint.GetScalar().value_or(0) * 100.0), 37L);
        // Out-of-range requests are kept inside 0..1 instead of being refused.
        CHECK(endpoint.SetScalar(1.5));
        CHECK_EQ(endpoint.GetScalar(), std::optional<double>(1.0));

        CHECK(endpoint.SetMute(false));
        CHECK_EQ(log.muteWrites, 1);
        CHECK(log.muteContextWasNull);
        CHECK_EQ(endpoint.GetMute(), std::optional<bool>(false));

        // Re-acquiring (before every change) looks the device up again and lets the old one go.
        CHECK_EQ(log.alive, 1);
        CHECK(endpoint.Acquire());
        CHECK_EQ(acquisitions, 2);
        CHECK_EQ(log.alive, 1);
        CHECK_EQ(endpoint.GetScalar(), std::optional<double>(0.25)); // the new device's own state
    }
    CHECK_EQ(log.alive, 0);
}

void coreAudioWithoutADevice()
{
    CoreAudioEndpoint endpoint([]() -> IAudioEndpointVolume* { return nullptr; });
    CHECK(!endpoint.Acquire());
    CHECK(!endpoint.GetScalar().has_value());
    CHECK(!endpoint.GetMute().has_value());
    CHECK(!endpoint.SetScalar(0.5));
    CHECK(!endpoint.SetMute(true));
}

} // namespace

int main()
{
    return TestKit::RunTests(
        "Windows system volume",
        {
            {"mixer arithmetic", mixerArithmetic},
            {"winmm mixer: speakers line, 50 % as 32750, wrap below the minimum", winmmMixerSpeakersLine},
            {"Core Audio reads the default output", coreAudioReadsTheDefaultOutput},
            {"Core Audio volume write on this system", coreAudioVolumeWriteOnTheSystem},
            {"Core Audio write path on a test double", coreAudioWritePathOnATestDouble},
            {"Core Audio without a device", coreAudioWithoutADevice},
        });
}
