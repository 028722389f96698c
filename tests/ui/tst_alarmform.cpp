#include "TestProgram.h"
#include "TestSupport.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLanguages.h"
#include "ui/AlarmForm.h"
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <memory>
#include <optional>

Q_DECLARE_METATYPE(AlarmRecord)

namespace {

// What the editor asked of the sound player and the rest of the program.
struct HookLog {
    struct Play {
        QString sound;
        bool loop;
        bool allowPrograms;
        bool showErrors;
        int rampSeconds;
    };
    QList<Play> plays;
    QList<int> volumes;
    QStringList links;
    int stops = 0;
    int volumeSaves = 0;
    int donations = 0;
    bool playing = false;
    bool wakeTimers = true;
};

AlarmFormHooks hooksFor(HookLog& log, const QString& soundsFolder)
{
    AlarmFormHooks hooks;
    hooks.playSound = [&log](const QString& sound, bool loop, bool allowPrograms, bool showErrors, int rampSeconds) {
        log.plays.append({sound, loop, allowPrograms, showErrors, rampSeconds});
        log.playing = true;
    };
    hooks.stopSound = [&log] {
        ++log.stops;
        log.playing = false;
    };
    hooks.isPlaying = [&log] { return log.playing; };
    hooks.saveSystemVolume = [&log] { ++log.volumeSaves; };
    hooks.setSystemVolume = [&log](int percent) { log.volumes.append(percent); };
    hooks.wakeTimersAvailable = [&log] { return log.wakeTimers; };
    hooks.donate = [&log] { ++log.donations; };
    hooks.openLink = [&log](const QString& page) { log.links.append(page); };
    hooks.soundsFolder = soundsFolder;
    return hooks;
}

QStringList itemTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(combo->itemText(i));
    return texts;
}

QStringList numbers(int first, int last, int width)
{
    QStringList texts;
    for (int n = first; n <= last; ++n)
        texts.append(QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0')));
    return texts;
}

AlarmRecord sampleAlarm()
{
    AlarmRecord alarm;
    alarm.Time = QTime(6, 45);
    alarm.Enabled = false;
    alarm.Days = {false, true, false, true, false, true, false};
    alarm.Label = QStringLiteral("Wake up\r\nand shine");
    alarm.Sound = QStringLiteral("Birds");
    alarm.Volume = 37;
    alarm.Snooze = false;
    alarm.MonitorOn = false;
    return alarm;
}

} // namespace

class TestAlarmForm final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hourListFollowsTheLocale_data();
    void hourListFollowsTheLocale();
    void minutesRunFromZeroToFiftyNine();
    void timeRoundTripsThroughTheLists_data();
    void timeRoundTripsThroughTheLists();
    void dayBoxesFollowTheLocaleWeek_data();
    void dayBoxesFollowTheLocaleWeek();
    void localeChangeKeepsTheTickedDays();
    void recordRoundTrips_data();
    void recordRoundTrips();
    void rampAndSnoozeLengthListsOfferTheChoices();
    void snoozeLengthListsAreTranslated();
    void snoozeLengthNotOfferedIsKept();
    void snoozeLengthFollowsTheSnoozeBox();
    void playButtonPreviewsWithTheRamp();
    void emptyLabelAndSoundGetTheirDefaults();
    void noSoundSurvivesALanguageChange();
    void soundListHoldsTheStockSounds();
    void browseChoiceNamesTheSound_data();
    void browseChoiceNamesTheSound();
    void browseStartsInTheSoundsFolder();
    void selectingASoundPreviewsSilently();
    void playButtonStartsProgramsAndShowsErrors();
    void playButtonStopsWhatPlays();
    void previewSetsTheAlarmVolume();
    void volumeSliderFollowsTheCheckBox();
    void playButtonNeedsASound();
    void previewStateShowsTheStopGlyph();
    void hidingStopsOnlyItsOwnPreview();
    void wakeLinkReplacesTheCheckBox();
    void donateButtonNeedsTheHookAndTheMainWindow();
    void donateIsHiddenWhereTheMainWindowOffersNone();
    void editorFitsAScreenTooSmallForIt();
    void editorLooksTheSameWhereItFits();
    void editorOffersNeitherMinimizeNorMaximize();
    void cancelLeavesTheRecordUnchanged();
    void okWritesTheRecordBackEnabled();

private:
    std::unique_ptr<TAlarmForm> makeForm(const char* localeName);
    void writeSound(const QString& name);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TMgLang> m_lang;
    HookLog m_log;
    QString m_sounds;
};

void TestAlarmForm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Langs")));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Sounds")));
    m_sounds = m_dir->filePath(QStringLiteral("Sounds")) + u'/';
    WriteFileBytes(m_dir->filePath(QStringLiteral("Langs/de.txt")),
                   QByteArrayLiteral("\xEF\xBB\xBF; test\r\n1000=Deutsch\r\n1001=7\r\n0014=(Keiner)\r\n"));
    m_lang = std::make_unique<TMgLang>(m_dir->filePath(QStringLiteral("Langs")), 1033);
    m_log = HookLog();
    for (const char* name : {"Bells1", "Birds", "Christmas"})
        writeSound(QString::fromLatin1(name) + QStringLiteral(".mp3"));
}

void TestAlarmForm::cleanup()
{
    QLocale::setDefault(QLocale::c());
    m_lang.reset();
    m_dir.reset();
}

std::unique_ptr<TAlarmForm> TestAlarmForm::makeForm(const char* localeName)
{
    QLocale::setDefault(QLocale(QString::fromLatin1(localeName)));
    auto form = CreateForm<TAlarmForm>(*m_lang);
    form->SetHooks(hooksFor(m_log, m_sounds));
    return form;
}

void TestAlarmForm::writeSound(const QString& name)
{
    WriteFileBytes(m_sounds + name, QByteArrayLiteral("ID3 not really a sound"));
}

void TestAlarmForm::hourListFollowsTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("hours");
    QTest::addColumn<QStringList>("designators");

    QTest::newRow("US English lists 1 to 12 with AM and PM")
        << QStringLiteral("en_US") << numbers(1, 12, 1) << QStringList{QStringLiteral("AM"), QStringLiteral("PM")};
    const QLocale egypt(QStringLiteral("ar_EG"));
    QStringList arabicHours;
    for (int hour = 1; hour <= 12; ++hour)
        arabicHours.append(egypt.toString(hour));
    QTest::newRow("Arabic in Egypt lists 1 to 12 in its own digits with its own designators")
        << QStringLiteral("ar_EG") << arabicHours << QStringList{egypt.amText(), egypt.pmText()};
    QTest::newRow("German writes hours with two digits, 00 to 23, without designators")
        << QStringLiteral("de_DE") << numbers(0, 23, 2) << QStringList();
    QTest::newRow("Hebrew writes hours with one digit, 0 to 23, without designators")
        << QStringLiteral("he_IL") << numbers(0, 23, 1) << QStringList();
    const QLocale korea(QStringLiteral("ko_KR"));
    QTest::newRow("Korean puts the designator first and lists 1 to 12")
        << QStringLiteral("ko_KR") << numbers(1, 12, 1) << QStringList{korea.amText(), korea.pmText()};
    const QLocale taiwan(QStringLiteral("zh_TW"));
    QTest::newRow("Taiwan names the day period before the hour and lists 1 to 12")
        << QStringLiteral("zh_TW") << numbers(1, 12, 1) << QStringList{taiwan.amText(), taiwan.pmText()};
}

void TestAlarmForm::hourListFollowsTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, hours);
    QFETCH(QStringList, designators);

    const auto form = makeForm(locale.toLatin1().constData());
    auto* cbHours = form->findChild<QComboBox*>(QStringLiteral("cbHours"));
    auto* cbAMPM = form->findChild<QComboBox*>(QStringLiteral("cbAMPM"));
    QVERIFY(cbHours && cbAMPM);
    QCOMPARE(itemTexts(cbHours), hours);
    QCOMPARE(!cbAMPM->isHidden(), !designators.isEmpty());
    if (!designators.isEmpty())
        QCOMPARE(itemTexts(cbAMPM), designators);
}

void TestAlarmForm::minutesRunFromZeroToFiftyNine()
{
    for (const char* locale : {"en_US", "de_DE"}) {
        const auto form = makeForm(locale);
        QCOMPARE(itemTexts(form->findChild<QComboBox*>(QStringLiteral("cbMinutes"))), numbers(0, 59, 2));
    }
}

void TestAlarmForm::timeRoundTripsThroughTheLists_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("hourText");
    QTest::addColumn<QString>("designator");

    QTest::newRow("just after midnight is 12 AM in the US")
        << QStringLiteral("en_US") << QTime(0, 5) << QStringLiteral("12") << QStringLiteral("AM");
    QTest::newRow("noon is 12 PM in the US")
        << QStringLiteral("en_US") << QTime(12, 30) << QStringLiteral("12") << QStringLiteral("PM");
    QTest::newRow("a morning hour keeps its number in the US")
        << QStringLiteral("en_US") << QTime(6, 45) << QStringLiteral("6") << QStringLiteral("AM");
    QTest::newRow("the last minute of the day is 11 PM in the US")
        << QStringLiteral("en_US") << QTime(23, 59) << QStringLiteral("11") << QStringLiteral("PM");
    QTest::newRow("midnight is 00 in Germany")
        << QStringLiteral("de_DE") << QTime(0, 0) << QStringLiteral("00") << QString();
    QTest::newRow("an evening hour is written in full in Germany")
        << QStringLiteral("de_DE") << QTime(19, 7) << QStringLiteral("19") << QString();
    QTest::newRow("Finnish writes its times with dots and one-digit hours")
        << QStringLiteral("fi_FI") << QTime(9, 15) << QStringLiteral("9") << QString();
    QTest::newRow("Arabic in Egypt uses its own digits and designators")
        << QStringLiteral("ar_EG") << QTime(13, 40) << QLocale(QStringLiteral("ar_EG")).toString(1)
        << QLocale(QStringLiteral("ar_EG")).pmText();
}

void TestAlarmForm::timeRoundTripsThroughTheLists()
{
    QFETCH(QString, locale);
    QFETCH(QTime, time);
    QFETCH(QString, hourText);
    QFETCH(QString, designator);

    const auto form = makeForm(locale.toLatin1().constData());
    AlarmRecord alarm;
    alarm.Time = time;
    form->LoadFromRecord(alarm);
    QCOMPARE(form->cbHours->currentText(), hourText);
    QCOMPARE(form->cbMinutes->currentText(), QLocale(locale).toString(time, QStringLiteral("mm")));
    if (!designator.isEmpty())
        QCOMPARE(form->cbAMPM->currentText(), designator);
    QCOMPARE(form->SelectedTime(), std::optional<QTime>(time));
    QCOMPARE(form->SaveToRecord().Time, time);
}

void TestAlarmForm::dayBoxesFollowTheLocaleWeek_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("firstQtDay"); // Monday = 1 .. Sunday = 7
    QTest::addColumn<int>("sundayBox");  // 0-based box of Sunday

    QTest::newRow("a US week starts on Sunday") << QStringLiteral("en_US") << 7 << 0;
    QTest::newRow("a German week starts on Monday, so Sunday is the last box") << QStringLiteral("de_DE") << 1 << 6;
    QTest::newRow("an Egyptian week starts on Saturday") << QStringLiteral("ar_EG") << 6 << 1;
}

void TestAlarmForm::dayBoxesFollowTheLocaleWeek()
{
    QFETCH(QString, locale);
    QFETCH(int, firstQtDay);
    QFETCH(int, sundayBox);

    const auto form = makeForm(locale.toLatin1().constData());
    const QLocale qlocale(locale);
    auto* first = form->findChild<QCheckBox*>(QStringLiteral("chkDay1"));
    QVERIFY(first);
    QCOMPARE(first->text(), QStringLiteral("Every ") + qlocale.dayName(firstQtDay, QLocale::LongFormat));
    QCOMPARE(form->findChild<QCheckBox*>(QStringLiteral("chkDay%1").arg(sundayBox + 1))->text(),
             QStringLiteral("Every ") + qlocale.dayName(7, QLocale::LongFormat));

    // Sunday and the box after it (Monday) are ticked: the record counts from Sunday.
    AlarmRecord none;
    form->LoadFromRecord(none);
    form->chkDay[sundayBox]->setChecked(true);
    form->chkDay[(sundayBox + 1) % 7]->setChecked(true);
    const AlarmRecord saved = form->SaveToRecord();
    QCOMPARE(saved.Days, (std::array<bool, 7>{true, true, false, false, false, false, false}));

    AlarmRecord saturday;
    saturday.Days[6] = true;
    form->LoadFromRecord(saturday);
    QVERIFY(form->chkDay[(sundayBox + 6) % 7]->isChecked());
    const auto ticked = std::count_if(std::begin(form->chkDay), std::end(form->chkDay),
                                      [](const QCheckBox* box) { return box->isChecked(); });
    QCOMPARE(int(ticked), 1);
}

void TestAlarmForm::localeChangeKeepsTheTickedDays()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm;
    alarm.Days[0] = true; // Sunday
    form->LoadFromRecord(alarm);
    QVERIFY(form->chkDay[0]->isChecked());

    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    form->RefreshLocale();
    QVERIFY(form->chkDay[6]->isChecked());
    QVERIFY(!form->chkDay[0]->isChecked());
    QCOMPARE(form->SaveToRecord().Days, alarm.Days);
}

void TestAlarmForm::recordRoundTrips_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<AlarmRecord>("alarm");

    AlarmRecord every = sampleAlarm();
    every.Days.fill(true);
    every.Sound = QStringLiteral("/home/somebody/Music/song.ogg");
    AlarmRecord quiet = sampleAlarm();
    quiet.Time = QTime(23, 0);
    quiet.VolumeOn = false;
    quiet.ShowMessage = false;
    quiet.SoundLoop = false;
    quiet.WakeUp = false;
    quiet.Volume = 0;
    quiet.Label = QStringLiteral("Label with & and \u00e9 and \U0001F514");
    quiet.RampSeconds = 15;
    AlarmRecord silent = sampleAlarm();
    silent.Sound.clear();
    every.RampSeconds = 300;
    every.SnoozeMinutes = 15;
    AlarmRecord noSnooze = sampleAlarm();
    noSnooze.Snooze = false;
    noSnooze.SnoozeMinutes = 3; // kept for when snooze is switched on again
    noSnooze.RampSeconds = 60;

    QTest::newRow("a weekday alarm with a stock sound in a 12-hour locale") << QStringLiteral("en_US") << sampleAlarm();
    QTest::newRow("an every-day alarm playing a file in a 24-hour locale") << QStringLiteral("de_DE") << every;
    QTest::newRow("an alarm with every switch off and a symbol in its label") << QStringLiteral("en_US") << quiet;
    QTest::newRow("an alarm without a sound") << QStringLiteral("ru_RU") << silent;
    QTest::newRow("an alarm without snooze keeps its snooze length") << QStringLiteral("en_GB") << noSnooze;
}

void TestAlarmForm::recordRoundTrips()
{
    QFETCH(QString, locale);
    QFETCH(AlarmRecord, alarm);

    const auto form = makeForm(locale.toLatin1().constData());
    form->LoadFromRecord(alarm);
    QCOMPARE(form->SaveToRecord(), alarm);
}

void TestAlarmForm::rampAndSnoozeLengthListsOfferTheChoices()
{
    const auto form = makeForm("en_US");
    QStringList rampTexts;
    QList<int> rampSeconds;
    for (int i = 0; i < form->cbRamp->count(); ++i) {
        rampTexts << form->cbRamp->itemText(i);
        rampSeconds << form->cbRamp->itemData(i).toInt();
    }
    QCOMPARE(rampTexts,
             (QStringList{QStringLiteral("Off"), QStringLiteral("15 seconds"), QStringLiteral("30 seconds"),
                          QStringLiteral("1 minute"), QStringLiteral("2 minutes"), QStringLiteral("5 minutes")}));
    QCOMPARE(rampSeconds, QList<int>(kRampChoices.begin(), kRampChoices.end()));

    QList<int> minutes;
    for (int i = 0; i < form->cbSnoozeLength->count(); ++i)
        minutes << form->cbSnoozeLength->itemData(i).toInt();
    QCOMPARE(minutes, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 20, 30}));
    QCOMPARE(form->cbSnoozeLength->itemText(1), QStringLiteral("1 minute"));
    QCOMPARE(form->cbSnoozeLength->itemText(13), QStringLiteral("30 minutes"));
    // Without being told, the global length is the program's default; once shown, the editor asks for it.
    QCOMPARE(form->cbSnoozeLength->itemText(0), QStringLiteral("Default (9 min)"));
    int global = 4;
    AlarmFormHooks hooks = hooksFor(m_log, m_sounds);
    hooks.defaultSnoozeMinutes = [&global] { return global; };
    form->SetHooks(hooks);
    AlarmRecord alarm = sampleAlarm();
    alarm.SnoozeMinutes = 0;
    alarm.RampSeconds = 30;
    QTimer::singleShot(0, form.get(), [&] {
        const auto closes = qScopeGuard([&form] { form->reject(); });
        QCOMPARE(form->cbSnoozeLength->currentText(), QStringLiteral("Default (4 min)"));
        QCOMPARE(form->cbRamp->currentText(), QStringLiteral("30 seconds"));
    });
    QVERIFY(!form->Execute(alarm));
    global = 12;
    QTimer::singleShot(0, form.get(), [&] {
        const auto closes = qScopeGuard([&form] { form->reject(); });
        QCOMPARE(form->cbSnoozeLength->currentText(), QStringLiteral("Default (12 min)"));
    });
    QVERIFY(!form->Execute(alarm));
}

void TestAlarmForm::snoozeLengthListsAreTranslated()
{
    // A language that says 2-4 minutes otherwise than 5 and more.
    WriteFileBytes(m_dir->filePath(QStringLiteral("Langs/ru.txt")),
                   QStringLiteral("\uFEFF; test\r\n1000=Русский\r\n1001=1049\r\n0250=Плавная громкость:\r\n"
                                  "0251=Выкл.\r\n0252=%1 секунд\r\n0253=1 минута\r\n0254=%1 минут\r\n"
                                  "0255=%1 минуты\r\n0256=По умолчанию (%1 мин)\r\n")
                       .toUtf8());
    m_lang = std::make_unique<TMgLang>(m_dir->filePath(QStringLiteral("Langs")), 1033);
    const auto form = makeForm("ru_RU");
    AlarmRecord alarm = sampleAlarm();
    alarm.RampSeconds = 120;
    alarm.SnoozeMinutes = 20;
    form->LoadFromRecord(alarm);
    m_lang->ChooseLanguage(1049);
    ApplyLanguage(*m_lang);
    QCOMPARE(form->lblRamp->text(), QStringLiteral("Плавная громкость:"));
    QCOMPARE(form->cbRamp->itemText(0), QStringLiteral("Выкл."));
    QCOMPARE(form->cbRamp->itemText(1), QStringLiteral("15 секунд"));
    QCOMPARE(form->cbRamp->itemText(3), QStringLiteral("1 минута"));
    QCOMPARE(form->cbRamp->itemText(4), QStringLiteral("2 минуты"));
    QCOMPARE(form->cbRamp->itemText(5), QStringLiteral("5 минут"));
    QCOMPARE(form->cbSnoozeLength->itemText(0), QStringLiteral("По умолчанию (9 мин)"));
    QCOMPARE(form->cbSnoozeLength->itemText(4), QStringLiteral("4 минуты"));
    QCOMPARE(form->cbSnoozeLength->itemText(11), QStringLiteral("15 минут"));
    // The chosen values stay chosen through the new texts.
    QCOMPARE(form->SaveToRecord().RampSeconds, 120);
    QCOMPARE(form->SaveToRecord().SnoozeMinutes, 20);
}

void TestAlarmForm::snoozeLengthNotOfferedIsKept()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.SnoozeMinutes = 25; // set in a file, not from the list
    form->LoadFromRecord(alarm);
    QCOMPARE(form->cbSnoozeLength->currentText(), QStringLiteral("25 minutes"));
    const int at = form->cbSnoozeLength->currentIndex();
    QCOMPARE(form->cbSnoozeLength->itemData(at - 1).toInt(), 20);
    QCOMPARE(form->cbSnoozeLength->itemData(at + 1).toInt(), 30);
    QCOMPARE(form->SaveToRecord().SnoozeMinutes, 25);
    // A length out of range reads as the global one.
    alarm.SnoozeMinutes = kMaxSnoozeMinutes + 1;
    alarm.RampSeconds = 7;
    form->LoadFromRecord(alarm);
    QCOMPARE(form->SaveToRecord().SnoozeMinutes, 0);
    QCOMPARE(form->SaveToRecord().RampSeconds, 0);
}

void TestAlarmForm::snoozeLengthFollowsTheSnoozeBox()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.Snooze = false;
    alarm.SnoozeMinutes = 5;
    form->LoadFromRecord(alarm);
    QVERIFY(!form->cbSnoozeLength->isEnabled());
    QCOMPARE(form->cbSnoozeLength->currentText(), QStringLiteral("5 minutes"));
    form->chkSnooze->click();
    QVERIFY(form->cbSnoozeLength->isEnabled());
    form->cbSnoozeLength->setCurrentIndex(form->cbSnoozeLength->findData(10));
    form->chkSnooze->click();
    QVERIFY(!form->cbSnoozeLength->isEnabled());
    QCOMPARE(form->SaveToRecord().SnoozeMinutes, 10);
    alarm.Snooze = true;
    form->LoadFromRecord(alarm);
    QVERIFY(form->cbSnoozeLength->isEnabled());
}

void TestAlarmForm::playButtonPreviewsWithTheRamp()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.RampSeconds = 60;
    form->LoadFromRecord(alarm);
    form->btnPlaySound->click();
    QCOMPARE(m_log.plays.size(), 1);
    QCOMPARE(m_log.plays.last().rampSeconds, 60);
    form->btnPlaySound->click(); // stops
    // What the list shows when it is changed is heard in the next preview.
    form->cbRamp->setCurrentIndex(form->cbRamp->findData(15));
    form->btnPlaySound->click();
    QCOMPARE(m_log.plays.size(), 2);
    QCOMPARE(m_log.plays.last().rampSeconds, 15);
    // Choosing a sound lets it be heard at once, without the ramp.
    form->cbSound->setCurrentIndex(form->cbSound->findText(QStringLiteral("Christmas")));
    emit form->cbSound->activated(form->cbSound->currentIndex());
    QCOMPARE(m_log.plays.last().sound, QStringLiteral("Christmas"));
    QCOMPARE(m_log.plays.last().rampSeconds, 0);
}

void TestAlarmForm::emptyLabelAndSoundGetTheirDefaults()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.Label.clear();
    alarm.Sound.clear();
    form->LoadFromRecord(alarm);
    QCOMPARE(form->memoLabel->toPlainText(), QStringLiteral("Alarm"));
    QCOMPARE(form->cbSound->currentText(), QStringLiteral("(None)"));

    form->memoLabel->clear();
    const AlarmRecord saved = form->SaveToRecord();
    QCOMPARE(saved.Label, QStringLiteral("Alarm"));
    QCOMPARE(saved.Sound, QString());
}

void TestAlarmForm::noSoundSurvivesALanguageChange()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.Sound.clear();
    form->LoadFromRecord(alarm);
    m_lang->ChooseLanguage(7);
    ApplyLanguage(*m_lang);
    QCOMPARE(form->cbSound->currentText(), QStringLiteral("(Keiner)"));
    QCOMPARE(form->cbSound->itemText(0), QStringLiteral("(Keiner)"));
    QCOMPARE(form->SaveToRecord().Sound, QString());
    QVERIFY(!form->btnPlaySound->isEnabled());
}

void TestAlarmForm::soundListHoldsTheStockSounds()
{
    writeSound(QStringLiteral("notes.txt"));
    writeSound(QStringLiteral("Shouting.MP3")); // would not be found again as "Shouting" + ".mp3"
    writeSound(QStringLiteral(".hidden.mp3"));
    QVERIFY(QDir(m_sounds).mkdir(QStringLiteral("Folder.mp3")));
    const auto form = makeForm("en_US");
    QCOMPARE(itemTexts(form->cbSound),
             (QStringList{QStringLiteral("(None)"), QStringLiteral(".hidden"), QStringLiteral("Bells1"),
                          QStringLiteral("Birds"), QStringLiteral("Christmas")}));
}

void TestAlarmForm::browseChoiceNamesTheSound_data()
{
    QTest::addColumn<QString>("chosen"); // relative to the temporary folder
    QTest::addColumn<QString>("expected");

    QTest::newRow("a stock sound of the sounds folder keeps only its name")
        << QStringLiteral("Sounds/Birds.mp3") << QStringLiteral("Birds");
    QTest::newRow("a file elsewhere keeps its full path") << QStringLiteral("Music/song.ogg") << QStringLiteral("*");
    QTest::newRow("a file elsewhere named like a stock sound keeps its full path")
        << QStringLiteral("Music/Birds.mp3") << QStringLiteral("*");
    QTest::newRow("a file in a subfolder of the sounds folder keeps its full path")
        << QStringLiteral("Sounds/More/Birds.mp3") << QStringLiteral("*");
    QTest::newRow("another format under a stock name keeps its full path")
        << QStringLiteral("Sounds/Birds.wav") << QStringLiteral("*");
    QTest::newRow("a sounds-folder file that is not in the list keeps its full path")
        << QStringLiteral("Sounds/Extra.mp3") << QStringLiteral("*");
}

void TestAlarmForm::browseChoiceNamesTheSound()
{
    QFETCH(QString, chosen);
    QFETCH(QString, expected);

    // The list is filled before the file is chosen, so a file added meanwhile is not in it.
    const QStringList stock = StockSoundNames(m_sounds);
    const auto form = makeForm("en_US");
    form->LoadFromRecord(sampleAlarm());

    const QString path = m_dir->filePath(chosen);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    WriteFileBytes(path, QByteArrayLiteral("sound"));
    const QString result = expected == u'*' ? path : expected;
    QCOMPARE(SoundNameForChoice(path, m_sounds, stock), result);
    form->ApplySoundChoice(path);
    QCOMPARE(form->cbSound->currentText(), result);
    QCOMPARE(form->SaveToRecord().Sound, result);
}

void TestAlarmForm::browseStartsInTheSoundsFolder()
{
    const auto form = makeForm("en_US");
    form->LoadFromRecord(sampleAlarm());
    QCOMPARE(form->BrowseStartFolder(), m_sounds);

    const QString music = m_dir->filePath(QStringLiteral("Music"));
    QVERIFY(QDir().mkpath(music));
    AlarmRecord file = sampleAlarm();
    file.Sound = music + QStringLiteral("/song.ogg");
    form->LoadFromRecord(file);
    QCOMPARE(form->BrowseStartFolder(), music);

    AlarmRecord folder = sampleAlarm();
    folder.Sound = music;
    form->LoadFromRecord(folder);
    QCOMPARE(form->BrowseStartFolder(), music);
}

void TestAlarmForm::selectingASoundPreviewsSilently()
{
    const QString program = m_dir->filePath(QStringLiteral("ring.sh"));
    WriteFileBytes(program, QByteArrayLiteral("#!/bin/sh\ntouch started\n"));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));

    const auto form = makeForm("en_US");
    form->LoadFromRecord(sampleAlarm());
    QVERIFY(m_log.plays.isEmpty());

    form->ApplySoundChoice(program);
    QCOMPARE(m_log.plays.size(), 1);
    QCOMPARE(m_log.plays.last().sound, program);
    QVERIFY(!m_log.plays.last().allowPrograms);
    QVERIFY(!m_log.plays.last().showErrors);
    QVERIFY(!m_log.plays.last().loop);

    // Picking another entry from the list replaces the sound that plays.
    const int christmas = form->cbSound->findText(QStringLiteral("Christmas"));
    form->cbSound->setCurrentIndex(christmas);
    emit form->cbSound->activated(christmas);
    QCOMPARE(m_log.stops, 1);
    QCOMPARE(m_log.plays.size(), 2);
    QCOMPARE(m_log.plays.last().sound, QStringLiteral("Christmas"));
    QVERIFY(!m_log.plays.last().allowPrograms);

    // The none entry previews nothing.
    form->cbSound->setCurrentIndex(0);
    emit form->cbSound->activated(0);
    QCOMPARE(m_log.plays.size(), 2);
}

void TestAlarmForm::playButtonStartsProgramsAndShowsErrors()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.Sound = m_dir->filePath(QStringLiteral("ring.sh"));
    alarm.VolumeOn = false;
    form->LoadFromRecord(alarm);
    QVERIFY(form->btnPlaySound->isEnabled());
    form->btnPlaySound->click();
    QCOMPARE(m_log.plays.size(), 1);
    QCOMPARE(m_log.plays.last().sound, alarm.Sound);
    QVERIFY(m_log.plays.last().allowPrograms);
    QVERIFY(m_log.plays.last().showErrors);
    QVERIFY(!m_log.plays.last().loop);
    QCOMPARE(m_log.volumeSaves, 0);
    QVERIFY(m_log.volumes.isEmpty());
}

void TestAlarmForm::playButtonStopsWhatPlays()
{
    const auto form = makeForm("en_US");
    form->LoadFromRecord(sampleAlarm());
    form->btnPlaySound->click();
    QVERIFY(m_log.playing);
    form->btnPlaySound->click();
    QVERIFY(!m_log.playing);
    QCOMPARE(m_log.stops, 1);
    QCOMPARE(m_log.plays.size(), 1);
}

void TestAlarmForm::previewSetsTheAlarmVolume()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.VolumeOn = true;
    alarm.Volume = 40;
    form->LoadFromRecord(alarm);
    QVERIFY(m_log.volumes.isEmpty());

    form->btnPlaySound->click();
    QCOMPARE(m_log.volumeSaves, 1);
    QCOMPARE(m_log.volumes, QList<int>{40});

    // While the preview plays, moving the slider changes the volume at once.
    form->trbVolume->setValue(65);
    QCOMPARE(m_log.volumes, (QList<int>{40, 65}));
    QCOMPARE(form->lblVolume->text(), QStringLiteral("65%"));

    m_log.playing = false;
    form->trbVolume->setValue(70);
    QCOMPARE(m_log.volumes.size(), 2);
    QCOMPARE(form->lblVolume->text(), QStringLiteral("70%"));
}

void TestAlarmForm::volumeSliderFollowsTheCheckBox()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.VolumeOn = false;
    form->LoadFromRecord(alarm);
    QVERIFY(!form->trbVolume->isEnabled());
    QCOMPARE(form->lblVolume->text(), QStringLiteral("37%"));
    form->chkVolumeOn->click();
    QVERIFY(form->trbVolume->isEnabled());
    form->chkVolumeOn->click();
    QVERIFY(!form->trbVolume->isEnabled());
}

void TestAlarmForm::playButtonNeedsASound()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    alarm.Sound.clear();
    form->LoadFromRecord(alarm);
    QVERIFY(!form->btnPlaySound->isEnabled());
    form->cbSound->setEditText(QStringLiteral("Bells1"));
    QVERIFY(form->btnPlaySound->isEnabled());
    form->cbSound->setEditText(QString());
    QVERIFY(!form->btnPlaySound->isEnabled());
}

void TestAlarmForm::previewStateShowsTheStopGlyph()
{
    const auto form = makeForm("en_US");
    QCOMPARE(form->PlayGlyph(), 0);
    form->SetPreviewState(true);
    QCOMPARE(form->PlayGlyph(), 1);
    QVERIFY(!form->btnPlaySound->icon().isNull());
    form->SetPreviewState(false);
    QCOMPARE(form->PlayGlyph(), 0);
}

void TestAlarmForm::hidingStopsOnlyItsOwnPreview()
{
    const auto form = makeForm("en_US");
    form->LoadFromRecord(sampleAlarm());
    form->show();
    form->hide();
    QCOMPARE(m_log.stops, 0);

    form->show();
    form->btnPlaySound->click();
    form->hide();
    QCOMPARE(m_log.stops, 1);
}

void TestAlarmForm::wakeLinkReplacesTheCheckBox()
{
    const auto form = makeForm("en_US");
    form->LoadFromRecord(sampleAlarm());
    form->show();
    QVERIFY(form->chkWakeup->isEnabled());
    QCOMPARE(form->chkWakeup->text(), QStringLiteral("Wake up computer from a sleep mode"));
    QVERIFY(!form->lblWakeup->isVisible());
    form->hide();

    m_log.wakeTimers = false;
    form->show();
    QVERIFY(!form->chkWakeup->isEnabled());
    QVERIFY(form->chkWakeup->text().isEmpty());
    QVERIFY(form->lblWakeup->isVisible());
    QCOMPARE(form->lblWakeup->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(form->lblWakeup, Qt::LeftButton);
    QCOMPARE(m_log.links, QStringList{QStringLiteral("waketimers.html")});
    form->hide();
}

void TestAlarmForm::donateButtonNeedsTheHookAndTheMainWindow()
{
    const auto form = makeForm("en_US");
    QVERIFY(!form->btnDonate->isHidden());
    form->btnDonate->click();
    QCOMPARE(m_log.donations, 1);
    form->SetDonateVisible(false);
    QVERIFY(form->btnDonate->isHidden());

    form->SetDonateVisible(true);
    AlarmFormHooks noDonate = hooksFor(m_log, m_sounds);
    noDonate.donate = nullptr;
    form->SetHooks(noDonate);
    QVERIFY(form->btnDonate->isHidden());
}

void TestAlarmForm::donateIsHiddenWhereTheMainWindowOffersNone()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    {
        TAppIni ini(folder.path(), folder.path());
        ini.SetFileName(folder.filePath(QStringLiteral("Data.ini")));
        ini.Write(Settings::FirstStarted, true);
    }
    TestProgram program(folder.path());
    QVERIFY(program.Started());
    const QAction* mainDonate = Child<QAction>(&program.Main(), "actDonate");
    QVERIFY(!mainDonate->isVisible()); // this build names no web site

    std::optional<bool> editorDonate;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &poll, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll.stop();
            editorDonate = program.Editor().btnDonate->isVisible();
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
    poll.start(10);
    Child<QAction>(&program.Main(), "actAdd")->trigger();
    QCOMPARE(editorDonate, std::optional<bool>(false));
    QVERIFY(!program.Ini().Read(Settings::HideDonate));
}

void TestAlarmForm::editorFitsAScreenTooSmallForIt()
{
    const auto form = makeForm("en_US");
    // Three times the text size makes the fields taller than the screen, as a large display scale does.
    QFont large = form->font();
    large.setPointSizeF(large.pointSizeF() * 3);
    form->setFont(large);
    AlarmRecord alarm = sampleAlarm();
    bool checked = false;
    QTimer::singleShot(0, form.get(), [&] {
        // A failed check must not leave the dialog open.
        const auto closes = qScopeGuard([&form] {
            if (form->isVisible())
                form->reject();
        });
        const QRect screen = form->screen()->availableGeometry();
        QVERIFY2(screen.contains(form->frameGeometry()), qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                                                        .arg(form->frameGeometry().width())
                                                                        .arg(form->frameGeometry().height())
                                                                        .arg(screen.width())
                                                                        .arg(screen.height())));
        for (const QPushButton* button : {form->btnOk, form->btnCancel})
            QVERIFY(screen.contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size())));
        QVERIFY(form->sbxFields->widget()->sizeHint().height() > screen.height()); // what the test is about
        QVERIFY(form->sbxFields->verticalScrollBar()->isVisible());

        // Tab runs down to the last field, which scrolls into view.
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(QApplication::focusWidget());
        for (int presses = 0; presses < 40 && QApplication::focusWidget() != form->chkMonitorOn; ++presses)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form->chkMonitorOn);
        const QWidget* view = form->sbxFields->viewport();
        const QRect box(form->chkMonitorOn->mapTo(view, QPoint(0, 0)), form->chkMonitorOn->size());
        QVERIFY2(box.top() >= 0 && box.bottom() < view->height(), "the box is scrolled to, top to bottom");
        QTest::keyClick(form->chkMonitorOn, Qt::Key_Space);
        checked = true;
        QTest::mouseClick(form->btnOk, Qt::LeftButton);
    });
    QVERIFY(form->Execute(alarm));
    QVERIFY(checked);
    QVERIFY(alarm.MonitorOn);
}

void TestAlarmForm::editorLooksTheSameWhereItFits()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    QTimer::singleShot(0, form.get(), [&form] {
        const auto closes = qScopeGuard([&form] { form->reject(); }); // nothing to change: it is cancelled
        QVERIFY(form->screen()->availableGeometry().contains(form->frameGeometry()));
        // The fields at their own size: nothing to scroll, nothing squeezed.
        QCOMPARE(form->sbxFields->size(), form->sbxFields->widget()->sizeHint());
        QVERIFY(!form->sbxFields->verticalScrollBar()->isVisible());
        QVERIFY(!form->sbxFields->horizontalScrollBar()->isVisible());
        QVERIFY(form->btnOk->geometry().top() > form->sbxFields->geometry().bottom());
    });
    QVERIFY(!form->Execute(alarm));
}

void TestAlarmForm::editorOffersNeitherMinimizeNorMaximize()
{
    const auto form = makeForm("en_US");
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    for (const Qt::WindowFlags flags : {form->windowFlags(), form->windowHandle()->flags()}) {
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint)); // only the hints given, no platform defaults
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    }
    form->hide();
}

void TestAlarmForm::cancelLeavesTheRecordUnchanged()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    const AlarmRecord original = alarm;
    QTimer::singleShot(0, form.get(), [&form] {
        form->cbHours->setCurrentIndex(2);
        form->chkDay[0]->setChecked(true);
        form->memoLabel->setPlainText(QStringLiteral("Changed"));
        form->chkSnooze->setChecked(true);
        form->btnCancel->click();
    });
    QVERIFY(!form->Execute(alarm));
    QCOMPARE(alarm, original);
}

void TestAlarmForm::okWritesTheRecordBackEnabled()
{
    const auto form = makeForm("en_US");
    AlarmRecord alarm = sampleAlarm();
    QTimer::singleShot(0, form.get(), [&form] {
        form->cbHours->setCurrentIndex(form->cbHours->findText(QStringLiteral("7")));
        form->cbMinutes->setCurrentIndex(form->cbMinutes->findText(QStringLiteral("30")));
        form->cbAMPM->setCurrentIndex(1);
        form->memoLabel->setPlainText(QStringLiteral("Evening\nrun"));
        form->btnOk->click();
    });
    QVERIFY(form->Execute(alarm));
    QVERIFY(alarm.Enabled);
    QCOMPARE(alarm.Time, QTime(19, 30));
    QCOMPARE(alarm.Label, QStringLiteral("Evening\r\nrun"));
    QCOMPARE(alarm.Sound, QStringLiteral("Birds"));
}

QTEST_MAIN(TestAlarmForm)
#include "tst_alarmform.moc"
