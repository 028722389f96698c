#include "TestProgram.h"
#include "TestSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/WakeTest.h"
#include "core/mglib/MgLanguages.h"
#include "ui/AlarmForm.h"
#include "ui/AlarmListView.h"
#include "ui/MainForm.h"
#include "ui/WakeCheck.h"

#include <QAction>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(WakeStatus)

namespace {

constexpr int kWaitMs = 5000;

QString alarmString(const QString& label, bool wakeUp, bool enabled = true)
{
    AlarmRecord alarm;
    alarm.Time = QTime(7, 0);
    alarm.Label = label;
    alarm.WakeUp = wakeUp;
    alarm.Enabled = enabled;
    return BuildAlarmString(alarm);
}

// The program on a fake system that answers the wake check with `status`, once it has been asked.
struct Rig {
    QTemporaryDir dir;
    TestProgram program;
    QStringList reports;
    QStringList questions;
    bool agree = true;

    Rig(const QStringList& alarms, const WakeStatus& status)
        : program(PreparedDataFolder(dir, alarms), QString(), 9,
                  [status](FakePlatform& platform) { platform.SetWakeStatus(status); })
    {}
    WakeCheck& check() { return *program.Main().WakeChecker(); }
    bool known() { return program.Main().WakeChecker() && check().Status().has_value(); }
    void answerTests()
    {
        check().confirm = [this](QWidget*, const QString& question) {
            questions.append(question);
            return agree;
        };
        check().report = [this](const QString& text) { reports.append(text); };
    }
    QString accessibleText(int row)
    {
        const QAbstractItemModel* model = program.Main().AlarmView()->model();
        return model->data(model->index(row, 0), Qt::AccessibleTextRole).toString();
    }
};

WakeStatus canWake()
{
    return {WakePath::RealtimeAlarm, WakeAbility::Yes, WakeReason::CapabilityHeld};
}

WakeStatus noCapability()
{
    return {WakePath::None, WakeAbility::No, WakeReason::NoCapability};
}

} // namespace

class TestWakeCheck : public QObject
{
    Q_OBJECT

private slots:
    void theEditorSaysWhetherTheComputerWakes_data();
    void theEditorSaysWhetherTheComputerWakes();
    void alarmsThatCannotWakeTheComputerAreMarked();
    void aWakeTestIsJudgedByWhenTheComputerCameBack_data();
    void aWakeTestIsJudgedByWhenTheComputerCameBack();
    void aWakeTestTheSystemRefusesIsReported();
    void aWakeTestTheUserDeclinesDoesNotSleep();
    void returnsAroundTheWakeTimeCountAsWokenByItself();
};

void TestWakeCheck::theEditorSaysWhetherTheComputerWakes_data()
{
    QTest::addColumn<WakeStatus>("status");
    QTest::addColumn<QString>("expected");
    QTest::newRow("kernel timer") << canWake() << QStringLiteral("This computer will wake up for this alarm.");
    QTest::newRow("no capability")
        << noCapability()
        << QStringLiteral("This computer will not wake up for this alarm: %1.").arg(Text::WakeNoCapability.English());
    QTest::newRow("daemon that cannot tell")
        << WakeStatus{WakePath::PowerDaemon, WakeAbility::Unknown, WakeReason::DaemonCannotTell}
        << QStringLiteral("This computer may not wake up for this alarm: %1.")
               .arg(Text::WakeDaemonCannotTell.English());
    QTest::newRow("daemon without the right")
        << WakeStatus{WakePath::PowerDaemon, WakeAbility::No, WakeReason::DaemonLacksCapability}
        << QStringLiteral("This computer will not wake up for this alarm: %1.")
               .arg(Text::WakeDaemonLacksRight.English());
}

void TestWakeCheck::theEditorSaysWhetherTheComputerWakes()
{
    QFETCH(WakeStatus, status);
    QFETCH(QString, expected);
    Rig rig({alarmString(QStringLiteral("Work"), true)}, status);
    QVERIFY(rig.program.Started());
    QTRY_VERIFY_WITH_TIMEOUT(rig.known(), kWaitMs);
    QCOMPARE(rig.check().Status()->works, status.works);

    const QLabel* text = Child<QLabel>(&rig.program.Editor(), "lblWakeStatus");
    QVERIFY(!text->isHidden());
    QCOMPARE(text->accessibleName(), expected);
    // The help page is one link away, where the user reads why not.
    QVERIFY(text->text().startsWith(expected.toHtmlEscaped()));
    QVERIFY(text->text().contains(QStringLiteral("<a href=\"waketimers.html\">Help</a>")));
}

void TestWakeCheck::alarmsThatCannotWakeTheComputerAreMarked()
{
    const QStringList alarms{alarmString(QStringLiteral("Wakes"), true), alarmString(QStringLiteral("Stays"), false),
                             alarmString(QStringLiteral("Off"), true, false)};
    const QString note = QStringLiteral(", ") + Text::WakeListMark.English();
    {
        Rig rig(alarms, noCapability());
        QTRY_VERIFY_WITH_TIMEOUT(rig.known(), kWaitMs);
        const TAlarmListView* view = rig.program.Main().AlarmView();
        QVERIFY(view->WakeMarkShown(alarms[0]));
        QVERIFY(!view->WakeMarkShown(alarms[1])); // does not ask to wake
        QVERIFY(!view->WakeMarkShown(alarms[2])); // does not ring at all
        QVERIFY2(rig.accessibleText(0).endsWith(note), qPrintable(rig.accessibleText(0)));
        QVERIFY(!rig.accessibleText(1).contains(Text::WakeListMark.English()));
        QVERIFY(!rig.accessibleText(2).contains(Text::WakeListMark.English()));
    }
    {
        Rig rig(alarms, canWake());
        QTRY_VERIFY_WITH_TIMEOUT(rig.known(), kWaitMs);
        QVERIFY(!rig.program.Main().AlarmView()->WakeMarkShown(alarms[0]));
        QVERIFY(!rig.accessibleText(0).contains(Text::WakeListMark.English()));
    }
}

void TestWakeCheck::aWakeTestIsJudgedByWhenTheComputerCameBack_data()
{
    QTest::addColumn<int>("backAfterWakeSeconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("at the wake time") << 3 << Text::TestWakeupWoke.English();
    QTest::newRow("ten minutes late") << 600 << Text::TestWakeupLate.English().arg(600);
    QTest::newRow("half a minute early") << -30 << Text::TestWakeupEarly.English();
}

void TestWakeCheck::aWakeTestIsJudgedByWhenTheComputerCameBack()
{
    QFETCH(int, backAfterWakeSeconds);
    QFETCH(QString, expected);
    Rig rig({}, canWake());
    QTRY_VERIFY_WITH_TIMEOUT(rig.known(), kWaitMs);
    rig.answerTests();

    const auto before = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
    Child<QAction>(&rig.program.Main(), "actTestWakeup")->trigger();
    const auto after = std::chrono::system_clock::now();
    QCOMPARE(rig.questions, QStringList{Text::TestWakeupQuestion.English()});
    QVERIFY(rig.check().TestRunning());
    const std::optional<WallTime> wakeAt = rig.program.Platform().SleepTrialWake();
    QVERIFY(wakeAt);
    // A minute: long enough to be asleep when the wake-up comes.
    QVERIFY(*wakeAt >= before + 60s && *wakeAt <= after + 60s);

    QVERIFY(rig.program.Platform().ResumeFromSleepTrial(*wakeAt + std::chrono::seconds(backAfterWakeSeconds), 55s));
    QCOMPARE(rig.reports, QStringList{expected});
    QTRY_VERIFY_WITH_TIMEOUT(!rig.check().TestRunning(), kWaitMs);
    QVERIFY(!rig.program.Platform().SleepTrialWake()); // the trial and its wake-up are gone
}

void TestWakeCheck::aWakeTestTheSystemRefusesIsReported()
{
    Rig rig({}, canWake());
    QTRY_VERIFY_WITH_TIMEOUT(rig.known(), kWaitMs);
    rig.answerTests();
    rig.program.Main().actTestWakeupExecute();
    QVERIFY(rig.program.Platform().FailSleepTrial("Interactive authentication required."));
    QCOMPARE(rig.reports,
             QStringList{Text::TestWakeupFailed.English().arg(QStringLiteral("Interactive authentication required."))});
    QTRY_VERIFY_WITH_TIMEOUT(!rig.check().TestRunning(), kWaitMs);
    // The next test starts afresh.
    rig.program.Main().actTestWakeupExecute();
    QVERIFY(rig.check().TestRunning());
}

void TestWakeCheck::aWakeTestTheUserDeclinesDoesNotSleep()
{
    Rig rig({}, canWake());
    QTRY_VERIFY_WITH_TIMEOUT(rig.known(), kWaitMs);
    rig.answerTests();
    rig.agree = false;
    rig.program.Main().actTestWakeupExecute();
    QCOMPARE(rig.questions.size(), 1);
    QVERIFY(!rig.check().TestRunning());
    QVERIFY(!rig.program.Platform().SleepTrialWake());
    QVERIFY(rig.reports.isEmpty());
}

void TestWakeCheck::returnsAroundTheWakeTimeCountAsWokenByItself()
{
    const QDateTime wakeAt(QDate(2026, 3, 29), QTime(1, 59, 30), Qt::UTC);
    using Outcome = WakeTestVerdict::Outcome;
    QCOMPARE(JudgeWakeTest(wakeAt, wakeAt.addMSecs(-kWakeTestEarlyMs - 1)).outcome, Outcome::CameBackEarly);
    QCOMPARE(JudgeWakeTest(wakeAt, wakeAt.addMSecs(-kWakeTestEarlyMs)).outcome, Outcome::WokeByItself);
    QCOMPARE(JudgeWakeTest(wakeAt, wakeAt).outcome, Outcome::WokeByItself);
    QCOMPARE(JudgeWakeTest(wakeAt, wakeAt.addMSecs(kWakeTestLateMs)).outcome, Outcome::WokeByItself);
    const WakeTestVerdict late = JudgeWakeTest(wakeAt, wakeAt.addMSecs(kWakeTestLateMs + 1));
    QCOMPARE(late.outcome, Outcome::CameBackLate);
    QCOMPARE(late.secondsLate, kWakeTestLateMs / 1000);
    // Instants, not local times: a return across a daylight-saving change is judged the same.
    QCOMPARE(JudgeWakeTest(wakeAt, wakeAt.addSecs(3600).toTimeZone(QTimeZone("Europe/Berlin"))).secondsLate, 3600);
}

QTEST_MAIN(TestWakeCheck)
#include "tst_wakecheck.moc"
