#include "ui/WakeCheck.h"

#include "core/alarms/WakeTest.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLanguages.h"
#include "ui/MessageBoxes.h"

#include <QMessageBox>
#include <QThread>
#include <QTimer>

namespace {

// Long enough to go to sleep and settle there: a wake-up that comes sooner may arrive while the system
// is still on its way down, and then nothing is learnt.
constexpr qint64 kTestSleepMs = 60 * 1000;

void ShowInformationNonModal(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Larkbell"), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box->setModal(false);
    box->show();
}

} // namespace

QString WakeReasonUserText(const TMgLang& lang, WakeReason reason)
{
    switch (reason) {
    case WakeReason::CapabilityHeld:
    case WakeReason::DaemonCanWake:
        return lang.GetText(Text::WakeWillWake);
    case WakeReason::NoCapability:
        return lang.GetText(Text::WakeNoCapability);
    case WakeReason::NoWakeClock:
        return lang.GetText(Text::WakeNoClock);
    case WakeReason::NoAlarmTimers:
        return lang.GetText(Text::WakeNoAlarmTimers);
    case WakeReason::DaemonLacksCapability:
        return lang.GetText(Text::WakeDaemonLacksRight);
    case WakeReason::DaemonCannotTell:
        return lang.GetText(Text::WakeDaemonCannotTell);
    case WakeReason::SystemForbids:
        break;
    }
    return lang.GetText(Text::WakeSystemForbids);
}

QString WakeBoxText(const TMgLang& lang, const WakeStatus& status)
{
    switch (status.works) {
    case WakeAbility::Yes:
        return lang.GetText(Text::WakeWillWake);
    case WakeAbility::No:
        return lang.GetText(Text::WakeWillNotWake).arg(WakeReasonUserText(lang, status.reason));
    case WakeAbility::Unknown:
        break;
    }
    return lang.GetText(Text::WakeMayNotWake).arg(WakeReasonUserText(lang, status.reason));
}

WakeCheck::WakeCheck(Platform& platform, const TMgLang& lang, QObject* parent)
    : QObject(parent)
    , confirm(AskYesNo)
    , report(ShowInformationNonModal)
    , m_platform(platform)
    , m_lang(lang)
{}

WakeCheck::~WakeCheck()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void WakeCheck::Start()
{
    if (m_worker || m_status)
        return;
    auto found = std::make_shared<WakeStatus>();
    Platform& platform = m_platform;
    m_worker = QThread::create([&platform, found] { *found = platform.DetectWakeStatus(); });
    connect(m_worker, &QThread::finished, this, [this, found] {
        m_worker->wait();
        delete std::exchange(m_worker, nullptr);
        m_status = *found;
        WriteLog(QStringLiteral("Wake path: %1; can wake: %2 (%3)")
                     .arg(QString::fromLatin1(WakePathName(found->path)),
                          QString::fromLatin1(WakeAbilityName(found->works)),
                          QString::fromLatin1(WakeReasonText(found->reason))));
        emit known();
    });
    m_worker->start();
}

void WakeCheck::RunTest(QWidget* parent)
{
    if (m_trial || !confirm || !confirm(parent, m_lang.GetText(Text::TestWakeupQuestion)))
        return;
    // The real clock, not the program's: the kernel wakes the computer on its own clock.
    const QDateTime wakeAt = QDateTime::currentDateTimeUtc().addMSecs(kTestSleepMs);
    SleepTrialEvents events;
    events.resumed = [this](WallTime at, std::chrono::milliseconds slept) {
        const QDateTime back = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count(), Qt::UTC);
        const WakeTestVerdict verdict = JudgeWakeTest(m_testWakeAt, back);
        WriteLog(QStringLiteral("Wake-up test: asked for %1, back at %2 after %3 ms asleep")
                     .arg(m_testWakeAt.toString(Qt::ISODateWithMs), back.toString(Qt::ISODateWithMs))
                     .arg(slept.count()));
        switch (verdict.outcome) {
        case WakeTestVerdict::Outcome::WokeByItself:
            testEnded(m_lang.GetText(Text::TestWakeupWoke));
            break;
        case WakeTestVerdict::Outcome::CameBackLate:
            testEnded(m_lang.GetText(Text::TestWakeupLate).arg(verdict.secondsLate));
            break;
        case WakeTestVerdict::Outcome::CameBackEarly:
            testEnded(m_lang.GetText(Text::TestWakeupEarly));
            break;
        }
    };
    events.failed = [this](const std::string& why) {
        WriteLog(QStringLiteral("Wake-up test failed: %1").arg(QString::fromStdString(why)));
        testEnded(m_lang.GetText(Text::TestWakeupFailed).arg(QString::fromStdString(why)));
    };
    m_testWakeAt = wakeAt;
    m_trial =
        m_platform.StartSleepTrial(WallTime(std::chrono::milliseconds(wakeAt.toMSecsSinceEpoch())), std::move(events));
    if (!m_trial)
        report(m_lang.GetText(Text::TestWakeupUnavailable));
}

void WakeCheck::testEnded(const QString& text)
{
    // The trial is reporting from inside itself: it ends once its call has returned.
    QTimer::singleShot(0, this, [this] { m_trial.reset(); });
    if (report)
        report(text);
}
