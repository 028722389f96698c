#include "TestProgram.h"

#include "audio/SoundOutput.h"
#include "platform/fake/FakeVolume.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// Takes every sound and plays it to nobody, until stopped.
class SilentSoundOutput final : public ISoundOutput
{
public:
    void SetConnectListener(ConnectListener listener) override { m_listener = std::move(listener); }
    int Connect() override
    {
        if (m_listener)
            m_listener(0);
        return 0;
    }
    int Play(std::unique_ptr<ISoundDecoder>, bool) override
    {
        m_active = true;
        return 0;
    }
    bool IsActive() const override { return m_active; }
    bool HasStarted() const override { return m_active; }
    int LastError() const override { return 0; }
    void Stop() override { m_active = false; }

private:
    ConnectListener m_listener;
    bool m_active = false;
};

} // namespace

TestProgram::TestProgram(const QString& folder, const QString& langsFolder, int languageId,
                         const std::function<void(FakePlatform&)>& prepare)
{
    AppEnvironment environment;
    environment.createPlatform = [this, prepare]() -> std::unique_ptr<::Platform> {
        auto platform = std::make_unique<FakePlatform>();
        m_platform = platform.get();
        if (prepare)
            prepare(*platform);
        return platform;
    };
    environment.createSoundOutput = [] { return std::make_unique<SilentSoundOutput>(); };
    environment.createVolumeEndpoint = [] {
        return std::make_unique<FakeVolumeEndpoint>(std::make_shared<FakeEndpointState>());
    };
    environment.createVolumeMixer = [] { return std::unique_ptr<IVolumeMixer>(); };
    AppFolders folders;
    folders.exeFolder = folder;
    folders.dataFolder = folder + u'/';
    // The stock sounds as shipped: an alarm that rings has a sound to play (to nobody).
    folders.soundsFolder = QStringLiteral(LARKBELL_SHIPPED_SOUNDS_DIR "/");
    folders.langsFolder = langsFolder;
    environment.folders = folders;
    environment.languageId = languageId;
    SchedulerClock clock;
    clock.now = [now = m_now, real = clock.now] { return now->isValid() ? *now : real(); };
    environment.clock = clock;
    CommandLine commandLine;
    commandLine.autorun = true;
    m_controller =
        std::make_unique<AppController>(commandLine, folder + QStringLiteral("/larkbell"), std::move(environment));
    m_started = !m_controller->Start().has_value();
}

TestProgram::~TestProgram()
{
    if (!m_controller->Exiting())
        return;
    // The exit ended every loop and marked the thread as quitting, so no dialog of a later test could
    // open. A main loop that ends at once clears the mark.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

bool TestProgram::FireNextAlarm()
{
    if (!m_platform->AlarmDue())
        return false;
    SetNow(m_controller->Scheduler()->AlarmDueUtc().toLocalTime());
    return m_platform->FireAlarmTimer();
}
