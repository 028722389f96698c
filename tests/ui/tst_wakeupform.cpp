#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLanguages.h"
#include "platform/fake/FakePlatform.h"
#include "ui/WakeupForm.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

QString alarmString(bool snooze, bool showMessage, const QString& label = QStringLiteral("Wake up"),
                    const QString& sound = QStringLiteral("Birds"), bool loop = true)
{
    AlarmRecord a;
    a.Snooze = snooze;
    a.ShowMessage = showMessage;
    a.Label = label;
    a.Sound = sound;
    a.SoundLoop = loop;
    a.Volume = 30;
    return BuildAlarmString(a);
}

// Records what the window asks of the rest of the program.
struct Recorder {
    QStringList played;
    int stopped = 0;
    int volumeSaved = 0;
    QList<int> volumes;
    QList<int> balloonMs;
    int balloonsCancelled = 0;
    QList<int> trayIcons;
    bool cancelSnoozeVisible = false;
    FakePlatform platform;

    WakeupHooks hooks()
    {
        WakeupHooks h;
        h.playSound = [this](const QString& sound, bool) { played.append(sound); };
        h.stopSound = [this] { ++stopped; };
        h.saveSystemVolume = [this] { ++volumeSaved; };
        h.setSystemVolume = [this](int percent) { volumes.append(percent); };
        h.monitorOn = [this] { platform.MonitorOn(); };
        h.setTrayIcon = [this](int index) { trayIcons.append(index); };
        h.normalTrayIcon = [] { return 0; };
        h.showBalloon = [this](const QString&, const QString&, int ms) { balloonMs.append(ms); };
        h.cancelBalloon = [this] { ++balloonsCancelled; };
        h.showCancelSnooze = [this](bool visible) { cancelSnoozeVisible = visible; };
        return h;
    }
};

} // namespace

class TestWakeupForm : public QObject
{
    Q_OBJECT

private slots:
    void labelSizeRule_data();
    void labelSizeRule();
    void buttonsWithAndWithoutSnooze();
    void showAndOkRingAndRestore();
    void snoozingTwiceReShowsTheSameAlarm();
    void cancelSnoozeStopsTheCountdown();
    void monitorCommandIsSentSixTimes();
    void balloonOnlyAlarmDisplayTimes();
    void trayIconBlinksWhileRinging();
    void newAlarmReplacesTheRingingOne();

private:
    TMgLang m_lang{QString(), 9};
};

void TestWakeupForm::labelSizeRule_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("size");
    QTest::newRow("80 characters and 2 line breaks stay large")
        << QString(74, u'x') + QStringLiteral("\r\na\r\nb") << 20; // line breaks count as characters
    QTest::newRow("81 characters are small") << QString(81, u'x') << 10;
    QTest::newRow("3 line breaks are small") << QStringLiteral("a\r\nb\r\nc\r\nd") << 10;
    QTest::newRow("short label is large") << QStringLiteral("Wake up") << 20;
}

void TestWakeupForm::labelSizeRule()
{
    QFETCH(QString, label);
    QFETCH(int, size);
    QCOMPARE(TWakeupForm::LabelFontSize(label), size);
}

void TestWakeupForm::buttonsWithAndWithoutSnooze()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->ShowAlarm(alarmString(true, true));
    QVERIFY(form->btnSnooze->isVisible());
    QCOMPARE(form->btnOK->width(), form->btnSnooze->width());
    QCOMPARE(form->btnOK->x(), form->width() - form->btnOK->width() - form->btnSnooze->x());
    form->btnOK->click();
    form->ShowAlarm(alarmString(false, true));
    QVERIFY(!form->btnSnooze->isVisible());
    QCOMPARE(form->btnOK->x(), form->btnSnooze->x());
    QCOMPARE(form->btnOK->x() + form->btnOK->width(), form->width() - form->btnSnooze->x());
}

void TestWakeupForm::showAndOkRingAndRestore()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->ShowAlarm(alarmString(true, true, QStringLiteral("Meeting")));
    QVERIFY(form->isVisible());
    QVERIFY(form->AlarmActive());
    QCOMPARE(form->lblInfo->text(), QStringLiteral("Meeting"));
    QCOMPARE(recorder.played, QStringList{QStringLiteral("Birds")});
    QCOMPARE(recorder.volumeSaved, 1);
    QCOMPARE(recorder.volumes, QList<int>{30});
    QCOMPARE(recorder.balloonsCancelled, 1);
    form->btnOK->click();
    QVERIFY(!form->isVisible());
    QVERIFY(!form->AlarmActive());
    QCOMPARE(recorder.stopped, 1); // the hide runs the dismissal once
    QVERIFY(!form->tmrTray.isActive());
}

void TestWakeupForm::snoozingTwiceReShowsTheSameAlarm()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->SetSnoozeTime(1);
    const QString alarm = alarmString(true, true, QStringLiteral("Snooze me"));
    form->ShowAlarm(alarm);
    for (int round = 0; round < 2; ++round) {
        form->btnSnooze->click();
        QVERIFY(!form->isVisible());
        QVERIFY(recorder.cancelSnoozeVisible);
        QVERIFY(form->SnoozePending());
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 5000);
        QCOMPARE(form->ActiveAlarm(), alarm);
        QVERIFY(!recorder.cancelSnoozeVisible);
    }
    QCOMPARE(recorder.played.size(), 3);
}

void TestWakeupForm::cancelSnoozeStopsTheCountdown()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->ShowAlarm(alarmString(true, true));
    form->btnSnooze->click();
    QVERIFY(form->SnoozePending());
    form->ResetSnooze();
    QVERIFY(!form->SnoozePending());
    QVERIFY(!recorder.cancelSnoozeVisible);
    QCOMPARE(form->tmrSnooze.interval(), form->SnoozeTime() * 1000);
}

void TestWakeupForm::monitorCommandIsSentSixTimes()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->tmrMonitorOn.setInterval(5); // the repeats' rhythm, not their count, is shortened
    form->ShowAlarm(alarmString(true, true));
    QCOMPARE(recorder.platform.MonitorOnCalls(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!form->tmrMonitorOn.isActive(), 5000);
    QCOMPARE(recorder.platform.MonitorOnCalls(), 6);
}

void TestWakeupForm::balloonOnlyAlarmDisplayTimes()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->ShowAlarm(alarmString(true, false));
    QVERIFY(!form->isVisible());
    QVERIFY(form->AlarmActive());
    form->DismissAlarm();
    form->ShowAlarm(alarmString(true, false, QStringLiteral("x"), QStringLiteral("Birds"), false));
    form->DismissAlarm();
    form->ShowAlarm(alarmString(true, false, QStringLiteral("x"), QString(), true));
    QCOMPARE(recorder.balloonMs, (QList<int>{6000000, 30000, 30000}));
}

void TestWakeupForm::trayIconBlinksWhileRinging()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->tmrTray.setInterval(5);
    form->ShowAlarm(alarmString(true, true));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.trayIcons.size() >= 4, 5000);
    QCOMPARE(recorder.trayIcons.mid(0, 4), (QList<int>{2, 0, 2, 0}));
    form->DismissAlarm();
    QCOMPARE(recorder.trayIcons.last(), 0);
}

void TestWakeupForm::newAlarmReplacesTheRingingOne()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->ShowAlarm(alarmString(true, true, QStringLiteral("first")));
    form->ShowAlarm(alarmString(true, true, QStringLiteral("second")));
    QCOMPARE(form->lblInfo->text(), QStringLiteral("second"));
    QCOMPARE(recorder.volumeSaved, 2); // the saver keeps the first state; it is asked again
    QVERIFY(form->AlarmActive());
}

QTEST_MAIN(TestWakeupForm)
#include "tst_wakeupform.moc"
