#include "TimeZoneScope.h"
#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLanguages.h"
#include "platform/fake/FakePlatform.h"
#include "ui/FloatingForm.h"
#include "ui/WakeupForm.h"

#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

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
    QList<int> ramps; // of every sound played
    int stopped = 0;
    int volumeSaved = 0;
    QList<int> volumes;
    QList<int> balloonMs;
    QStringList balloonTexts;
    int balloonsCancelled = 0;
    QList<int> trayIcons;
    bool cancelSnoozeVisible = false;
    FakePlatform platform;

    WakeupHooks hooks()
    {
        WakeupHooks h;
        h.playSound = [this](const QString& sound, bool, int rampSeconds) {
            played.append(sound);
            ramps.append(rampSeconds);
        };
        h.stopSound = [this] { ++stopped; };
        h.saveSystemVolume = [this] { ++volumeSaved; };
        h.setSystemVolume = [this](int percent) { volumes.append(percent); };
        h.monitorOn = [this] { platform.MonitorOn(); };
        h.setTrayIcon = [this](int index) { trayIcons.append(index); };
        h.normalTrayIcon = [] { return 0; };
        h.showBalloon = [this](const QString&, const QString& text, int ms) {
            balloonMs.append(ms);
            balloonTexts.append(text);
        };
        h.cancelBalloon = [this] { ++balloonsCancelled; };
        h.showCancelSnooze = [this](bool visible) { cancelSnoozeVisible = visible; };
        return h;
    }
};

const QString kEllipsis = QStringLiteral("\u2026");

// The lines the label shows of its text as it stands.
QStringList shownLines(const QLabel* label)
{
    return TWakeupForm::FittedLines(label->text(), label->font(), label->contentsRect().size(), label->wordWrap());
}

// Whether the window, as painted, has anything but background in the outermost pixel column of the label on
// either side: text running into both is text cut off at the label's edges.
bool inkOnTheEdges(QWidget* window, const QLabel* label)
{
    const QImage image = window->grab().toImage();
    const QRect area = label->geometry();
    const QRgb background = image.pixel(area.left(), area.top());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        if (image.pixel(area.left(), y) != background || image.pixel(area.right(), y) != background)
            return true;
    }
    return false;
}

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
    void everyRingRisesWithTheAlarmsRamp();
    void cancelSnoozeStopsTheCountdown();
    void monitorCommandIsSentSixTimes();
    void balloonOnlyAlarmDisplayTimes();
    void trayIconBlinksWhileRinging();
    void newAlarmReplacesTheRingingOne();
    void aLongWordEndsInAnEllipsisInsideTheLabel();
    void labelWrapsBetweenWordsAndEndsInAnEllipsisWhenLinesRunOut();
    void timeLeavesOutTheZoneAndEndsInAnEllipsisWhenTooLong();
    void snoozeLengthsAreOfferedBesideSnooze();
    void aLengthChosenWithTheMouseSnoozesThatLong();
    void aLengthChosenWithTheKeyboardSnoozesThatLong();
    void plainSnoozeTakesTheAlarmsOwnLengthElseTheGlobalOne();
    void aMenuLeftOpenDoesNotSnoozeAnAnsweredAlarm();

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
    QVERIFY(form->btnSnoozeLength->isVisible());
    // Snooze and its lengths' arrow together are as wide as OK, the arrow right beside Snooze.
    const QRect pair = form->btnSnooze->geometry().united(form->btnSnoozeLength->geometry());
    QCOMPARE(form->btnSnoozeLength->x(), form->btnSnooze->geometry().right() + 1);
    QCOMPARE(form->btnOK->width(), pair.width());
    QCOMPARE(form->btnOK->x(), form->width() - form->btnOK->width() - form->btnSnooze->x());
    form->btnOK->click();
    form->ShowAlarm(alarmString(false, true));
    QVERIFY(!form->btnSnooze->isVisible());
    QVERIFY(!form->btnSnoozeLength->isVisible());
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

void TestWakeupForm::everyRingRisesWithTheAlarmsRamp()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->SetSnoozeTime(1);
    AlarmRecord alarm = ParseAlarmString(alarmString(true, true));
    alarm.RampSeconds = 30;
    form->ShowAlarm(BuildAlarmString(alarm));
    QCOMPARE(recorder.ramps, QList<int>{30});
    // A snoozed alarm starts soft again when it comes back.
    form->btnSnooze->click();
    QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 5000);
    QCOMPARE(recorder.ramps, (QList<int>{30, 30}));
    form->btnOK->click();
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

void TestWakeupForm::aLongWordEndsInAnEllipsisInsideTheLabel()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    const QString word = QStringLiteral("pneumonoultramicroscopicsilicovolcanoconiosis");
    const QString label = QStringLiteral("Revise ") + word + QStringLiteral(" for the biology exam at ten");
    QCOMPARE(label.size(), TWakeupForm::kLongLabelCharacters); // still the large font
    form->ShowAlarm(alarmString(true, true, label));
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    QCOMPARE(form->lblInfo->text(), label); // the whole text stays the label's, for screen readers too
    const QStringList lines = shownLines(form->lblInfo);
    const QFontMetrics metrics(form->lblInfo->font());
    const int width = form->lblInfo->contentsRect().width();
    qsizetype wordLine = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QVERIFY2(metrics.horizontalAdvance(lines.at(i)) <= width, qPrintable(lines.at(i)));
        if (lines.at(i).endsWith(kEllipsis))
            wordLine = i;
    }
    QVERIFY(wordLine >= 0);
    const QString shownWord = lines.at(wordLine).chopped(1);
    QVERIFY2(shownWord.size() > 3 && word.startsWith(shownWord), qPrintable(lines.at(wordLine)));
    QCOMPARE(lines.first(), QStringLiteral("Revise")); // the long word starts a line of its own
    QCOMPARE(lines.last(), QStringLiteral("for the biology exam at ten").left(lines.last().size()));
    QVERIFY(!inkOnTheEdges(form.get(), form->lblInfo));
}

void TestWakeupForm::labelWrapsBetweenWordsAndEndsInAnEllipsisWhenLinesRunOut()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    const QString words = QStringLiteral("Take the blue folder and the charger to the meeting room");
    form->ShowAlarm(alarmString(true, true, words));
    const QStringList wrapped = shownLines(form->lblInfo);
    QVERIFY(wrapped.size() > 1);
    QCOMPARE(wrapped.join(u' '), words); // broken only where a blank was
    const QFontMetrics large(form->lblInfo->font());
    for (const QString& line : wrapped)
        QVERIFY2(large.horizontalAdvance(line) <= form->lblInfo->contentsRect().width(), qPrintable(line));
    form->DismissAlarm();

    QStringList many;
    for (int n = 1; n <= 20; ++n)
        many.append(QStringLiteral("Step %1").arg(n));
    form->ShowAlarm(alarmString(true, true, many.join(QStringLiteral("\r\n"))));
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QStringList lines = shownLines(form->lblInfo);
    const QFontMetrics small(form->lblInfo->font());
    QVERIFY(lines.size() > 1 && lines.size() < many.size());
    QVERIFY(lines.size() * small.lineSpacing() <= form->lblInfo->contentsRect().height());
    QCOMPARE(lines.mid(0, lines.size() - 1), many.mid(0, lines.size() - 1));
    QCOMPARE(lines.last(), many.at(lines.size() - 1) + kEllipsis);
    QVERIFY(!inkOnTheEdges(form.get(), form->lblInfo));
}

void TestWakeupForm::timeLeavesOutTheZoneAndEndsInAnEllipsisWhenTooLong()
{
    const TimeZoneScope utc(QByteArray("UTC"));
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->ShowAlarm(alarmString(true, true));
    const QString shown = form->lblTime->text();
    QVERIFY2(!shown.contains(QStringLiteral("UTC")), qPrintable(shown));
    const QString format = TFloatingForm::ClockTimeFormat(QLocale());
    QVERIFY2(QTime::fromString(shown, format).isValid(), qPrintable(shown));
    form->DismissAlarm();
    form->ShowAlarm(alarmString(true, false));
    QCOMPARE(recorder.balloonTexts.size(), 1);
    QCOMPARE(recorder.balloonTexts.first(),
             QLocale().toString(AlarmRecord().Time, format) + QStringLiteral("\r\nWake up"));

    // However the locale writes the time, it never runs out of its label.
    const QString tooLong = QString(40, u'W');
    const QStringList line =
        TWakeupForm::FittedLines(tooLong, form->lblTime->font(), form->lblTime->contentsRect().size(), false);
    QCOMPARE(line.size(), 1);
    QVERIFY(line.first().endsWith(kEllipsis));
    QVERIFY(tooLong.startsWith(line.first().chopped(1)));
    form->ShowAlarm(alarmString(true, true));
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->lblTime->setText(tooLong); // the clock's next tick is a second away; the picture is taken now
    QVERIFY(!inkOnTheEdges(form.get(), form->lblTime));
}

namespace {

QString alarmWithSnoozeMinutes(int minutes)
{
    AlarmRecord a = ParseAlarmString(alarmString(true, true, QStringLiteral("Own length")));
    a.SnoozeMinutes = minutes;
    return BuildAlarmString(a);
}

// The widget Tab moves to from widget.
QWidget* nextTabStop(QWidget* widget)
{
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

QAction* lengthItem(TWakeupForm& form, int minutes)
{
    for (QAction* item : form.pmSnoozeLength->actions()) {
        if (item->data().toInt() == minutes)
            return item;
    }
    return nullptr;
}

} // namespace

void TestWakeupForm::snoozeLengthsAreOfferedBesideSnooze()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    QStringList texts;
    QList<int> minutes;
    for (QAction* item : form->pmSnoozeLength->actions()) {
        texts.append(item->text());
        minutes.append(item->data().toInt());
    }
    QCOMPARE(minutes, (QList<int>{5, 9, 10, 15, 30}));
    QCOMPARE(texts.first(), QStringLiteral("5 Minutes"));
    QCOMPARE(form->btnSnoozeLength->accessibleName(), QStringLiteral("Snooze for"));
    QVERIFY(form->btnSnoozeLength->accessibleDescription().contains(QStringLiteral("Alt")));
    QCOMPARE(form->btnSnoozeLength->focusPolicy(), Qt::StrongFocus);
    // Tab goes Snooze, its lengths, OK.
    QCOMPARE(nextTabStop(form->btnSnooze), form->btnSnoozeLength);
    QCOMPARE(nextTabStop(form->btnSnoozeLength), form->btnOK);
    // Without a ringing alarm the arrow opens nothing.
    form->btnSnoozeLength->click();
    QVERIFY(!form->pmSnoozeLength->isVisible());
}

void TestWakeupForm::aLengthChosenWithTheMouseSnoozesThatLong()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->SetSnoozeTime(540);
    form->ShowAlarm(alarmString(true, true));
    QTest::mouseClick(form->btnSnoozeLength, Qt::LeftButton);
    QTRY_VERIFY(form->pmSnoozeLength->isVisible());
    // The length a plain Snooze takes stands out.
    QCOMPARE(form->pmSnoozeLength->defaultAction(), lengthItem(*form, 9));
    QVERIFY(form->AlarmActive()); // opening the menu answers nothing yet
    QAction* fifteen = lengthItem(*form, 15);
    QTest::mouseClick(form->pmSnoozeLength, Qt::LeftButton, {}, form->pmSnoozeLength->actionGeometry(fifteen).center());
    QTRY_VERIFY(!form->pmSnoozeLength->isVisible());
    QVERIFY(!form->AlarmActive());
    QVERIFY(!form->isVisible());
    QVERIFY(form->SnoozePending());
    QCOMPARE(form->tmrSnooze.interval(), 15 * 60 * 1000);
    QVERIFY(recorder.cancelSnoozeVisible);
    // The choice is for this once: the configured length stays.
    QCOMPARE(form->SnoozeTime(), 540);
    QCOMPARE(recorder.stopped, 1);
}

void TestWakeupForm::aLengthChosenWithTheKeyboardSnoozesThatLong()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->SetSnoozeTime(540);
    form->ShowAlarm(alarmString(true, true));
    // Alt+Down on Snooze opens the lengths with the usual one active; Down, Enter takes the next.
    QTest::keyClick(form->btnSnooze, Qt::Key_Down, Qt::AltModifier);
    QTRY_VERIFY(form->pmSnoozeLength->isVisible());
    QVERIFY(form->AlarmActive());
    QCOMPARE(form->pmSnoozeLength->activeAction(), lengthItem(*form, 9));
    QTest::keyClick(form->pmSnoozeLength, Qt::Key_Down);
    QTest::keyClick(form->pmSnoozeLength, Qt::Key_Return);
    QVERIFY(!form->AlarmActive());
    QCOMPARE(form->tmrSnooze.interval(), 10 * 60 * 1000);

    // The menu key does the same, Escape closes the menu and leaves the alarm ringing.
    form->ShowAlarm(alarmString(true, true));
    QVERIFY(!form->SnoozePending());
    QTest::keyClick(form->btnSnooze, Qt::Key_Menu);
    QTRY_VERIFY(form->pmSnoozeLength->isVisible());
    QTest::keyClick(form->pmSnoozeLength, Qt::Key_Escape);
    QTRY_VERIFY(!form->pmSnoozeLength->isVisible());
    QVERIFY(form->AlarmActive());
    QVERIFY(!form->SnoozePending());

    // Enter on the arrow opens its menu; it does not reach OK.
    QTest::keyClick(form->btnSnoozeLength, Qt::Key_Return);
    QTRY_VERIFY(form->pmSnoozeLength->isVisible());
    QVERIFY(form->AlarmActive());
    QTest::keyClick(form->pmSnoozeLength, Qt::Key_Up);
    QTest::keyClick(form->pmSnoozeLength, Qt::Key_Return);
    QVERIFY(!form->AlarmActive());
    QCOMPARE(form->tmrSnooze.interval(), 5 * 60 * 1000);
}

void TestWakeupForm::plainSnoozeTakesTheAlarmsOwnLengthElseTheGlobalOne()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->SetSnoozeTime(7 * 60);
    form->ShowAlarm(alarmString(true, true));
    QCOMPARE(form->ConfiguredSnoozeSeconds(), 7 * 60);
    form->btnSnooze->click();
    QCOMPARE(form->tmrSnooze.interval(), 7 * 60 * 1000);

    form->ShowAlarm(alarmWithSnoozeMinutes(12));
    QCOMPARE(form->ConfiguredSnoozeSeconds(), 12 * 60);
    QTest::mouseClick(form->btnSnooze, Qt::LeftButton);
    QVERIFY(!form->AlarmActive());
    QCOMPARE(form->tmrSnooze.interval(), 12 * 60 * 1000);

    // Enter on the focused Snooze and Escape both snooze for the alarm's own length.
    form->ShowAlarm(alarmWithSnoozeMinutes(12));
    QTest::keyClick(form->btnSnooze, Qt::Key_Return);
    QVERIFY(!form->AlarmActive());
    QCOMPARE(form->tmrSnooze.interval(), 12 * 60 * 1000);
    form->ShowAlarm(alarmWithSnoozeMinutes(25));
    QTest::keyClick(form.get(), Qt::Key_Escape);
    QVERIFY(!form->AlarmActive());
    QCOMPARE(form->tmrSnooze.interval(), 25 * 60 * 1000);

    // The next alarm without a length of its own is back on the global one.
    form->ShowAlarm(alarmString(true, true));
    form->btnSnooze->click();
    QCOMPARE(form->tmrSnooze.interval(), 7 * 60 * 1000);
}

void TestWakeupForm::aMenuLeftOpenDoesNotSnoozeAnAnsweredAlarm()
{
    Recorder recorder;
    auto form = CreateForm<TWakeupForm>(m_lang, recorder.hooks());
    form->ShowAlarm(alarmString(true, true));
    form->btnSnoozeLength->click();
    QTRY_VERIFY(form->pmSnoozeLength->isVisible());
    form->DismissAlarm(); // answered elsewhere: the tray, the floating clock
    QVERIFY(!form->pmSnoozeLength->isVisible());
    lengthItem(*form, 30)->trigger();
    QVERIFY(!form->SnoozePending());
    QVERIFY(!recorder.cancelSnoozeVisible);
}

QTEST_MAIN(TestWakeupForm)
#include "tst_wakeupform.moc"
