// The ringing window's line for an alarm whose sound could not be played anywhere: its text by the kind of
// failure, in the window's language, and the rest of the alarm (tray blinking, buttons) going on regardless.
#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLanguages.h"
#include "ui/WakeupForm.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QString alarmString()
{
    AlarmRecord a;
    a.Time = QTime(7, 0);
    a.Label = QStringLiteral("Wake up");
    a.Sound = QStringLiteral("Bells1");
    a.SoundLoop = true;
    a.Snooze = true;
    a.ShowMessage = true;
    return BuildAlarmString(a);
}

} // namespace

class TestNoSoundLine : public QObject
{
    Q_OBJECT

private slots:
    void theLineTellsWhyAndTheAlarmGoesOn_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("no device either") << 401
                                          << "No sound could be played: neither the sound server nor a "
                                             "sound device answered (401)";
        QTest::newRow("no server") << 202 << "No sound could be played: the sound server cannot be reached (202)";
        QTest::newRow("file") << 103 << "No sound could be played: the sound file cannot be read (103)";
        QTest::newRow("stream") << 302 << "No sound could be played: the sound server refused to play it (302)";
    }

    void theLineTellsWhyAndTheAlarmGoesOn()
    {
        QFETCH(int, error);
        QFETCH(QString, text);
        TMgLang lang{QString(), 9};
        QList<int> trayIcons;
        TWakeupForm* shown = nullptr;
        WakeupHooks hooks;
        // As the program does: the failure may come at once, while the window is still being set up.
        hooks.playSound = [&](const QString&, bool, int) {
            if (shown)
                shown->ShowSoundFailure(error);
        };
        hooks.setTrayIcon = [&](int index) { trayIcons.append(index); };
        hooks.normalTrayIcon = [] { return 0; };
        auto form = CreateForm<TWakeupForm>(lang, hooks);
        shown = form.get();
        QVERIFY(form->lblSoundError->isHidden());

        form->ShowAlarm(alarmString());
        QVERIFY(form->lblSoundError->isVisible());
        QCOMPARE(form->lblSoundError->text(), text);
        QCOMPARE(form->lblSoundError->accessibleName(), text);
        // The tray blinks on and the window still answers.
        QTRY_VERIFY(trayIcons.contains(2));
        QVERIFY(form->tmrTray.isActive());
        QVERIFY(form->btnOK->isEnabled());
        // The line does not cover the time or the label.
        QVERIFY(!form->lblSoundError->geometry().intersects(form->lblTime->geometry()));
        QVERIFY(!form->lblSoundError->geometry().intersects(form->lblInfo->geometry()));
        form->DismissAlarm();

        // The next ring that plays starts without the line.
        shown = nullptr;
        form->ShowAlarm(alarmString());
        QVERIFY(form->lblSoundError->isHidden());
        form->DismissAlarm();
    }

    void theLineIsTranslated()
    {
        TMgLang lang{QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR), 1031};
        lang.LoadStartupLanguage(lang.CurrentLanguageId());
        auto form = CreateForm<TWakeupForm>(lang, WakeupHooks{});
        form->ShowSoundFailure(401);
        QCOMPARE(form->lblSoundError->text(), QStringLiteral("Es konnte kein Ton abgespielt werden: weder der "
                                                             "Soundserver noch ein Audiogerät hat geantwortet (401)"));
        form->ShowSoundFailure(0);
        QVERIFY(form->lblSoundError->isHidden());
    }
};

QTEST_MAIN(TestNoSoundLine)
#include "tst_nosoundline.moc"
