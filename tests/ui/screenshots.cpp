// Draws the windows into PNG files for the documentation. Runs on Qt's offscreen platform, so it
// needs no display:
//
//   QT_QPA_PLATFORM=offscreen larkbell_screenshots <Langs folder> <output folder>
//       the main window (both layouts), the editor (12- and 24-hour) and the floating clock, as the
//       help pages show them;
//   QT_QPA_PLATFORM=offscreen larkbell_screenshots <Langs folder> <output folder> <look>
//       every window (main, editor, notification, floating clock) in one look: en-12h, de-24h,
//       dark, or scaled (run with QT_SCALE_FACTOR=1.5), as <look>-<window>.png.

#include "TestProgram.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLanguages.h"
#include "platform/fake/FakePlatform.h"
#include "ui/AlarmForm.h"
#include "ui/FloatingForm.h"
#include "ui/MainForm.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

AlarmRecord exampleAlarm()
{
    AlarmRecord alarm;
    alarm.Time = QTime(6, 45);
    alarm.Days = {false, true, true, true, true, true, false};
    alarm.Label = QStringLiteral("Good morning!\r\nTake the umbrella.");
    alarm.Sound = QStringLiteral("Birds");
    alarm.Volume = 80;
    alarm.MonitorOn = false;
    return alarm;
}

bool save(const QPixmap& pixmap, const QString& path)
{
    if (pixmap.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

bool shootEditor(TMgLang& lang, const QString& soundsFolder, const QString& locale, int languageId, const QString& path)
{
    QLocale::setDefault(QLocale(locale));
    lang.ChooseLanguage(languageId);
    lang.UpdateNoneText();
    auto editor = CreateForm<TAlarmForm>(lang);
    AlarmFormHooks hooks;
    hooks.soundsFolder = soundsFolder;
    hooks.donate = [] {};
    editor->SetHooks(hooks);
    editor->LoadFromRecord(exampleAlarm());
    editor->show();
    QApplication::processEvents();
    const bool saved = save(editor->grab(), path);
    editor->hide();
    return saved;
}

bool shootClock(TMgLang& lang, TAppIni& ini, const QString& locale, int languageId, const QString& path)
{
    QLocale::setDefault(QLocale(locale));
    lang.ChooseLanguage(languageId);
    lang.UpdateNoneText();
    auto clock = CreateForm<TFloatingForm>(lang, ini);
    clock->PrepareSamples();
    clock->resize(196, 77);
    clock->show();
    clock->ShowTime(QDateTime(QDate(2024, 3, 5), QTime(6, 45, 12)));
    // The grip shows while the mouse is over the clock.
    QEnterEvent enter(QPointF(90, 40), QPointF(90, 40), clock->mapToGlobal(QPointF(90, 40)));
    QApplication::sendEvent(clock.get(), &enter);
    QApplication::processEvents();
    return save(clock->grab(), path);
}

QStringList exampleList()
{
    QStringList alarms;
    AlarmRecord alarm = exampleAlarm();
    alarms.append(BuildAlarmString(alarm));
    alarm.Time = QTime(7, 30);
    alarm.Days = {true, false, false, false, false, false, true};
    alarm.Label = QStringLiteral("Weekend run");
    alarm.Sound = QStringLiteral("/home/me/Music/Morning playlist/Sunrise.ogg");
    alarm.RampSeconds = 60;
    // The coming weekend's run is skipped, so the list and the panel show what a skip looks like.
    QDate skipped = QDate::currentDate().addDays(QTime::currentTime() >= alarm.Time ? 1 : 0);
    while (skipped.dayOfWeek() < Qt::Saturday)
        skipped = skipped.addDays(1);
    alarm.SkipDate = skipped;
    alarms.append(BuildAlarmString(alarm));
    alarm.RampSeconds = 0;
    alarm.SkipDate = {};
    alarm.Time = QTime(13, 15);
    alarm.Days = {};
    alarm.Enabled = false;
    alarm.Label = QStringLiteral("Dentist");
    alarm.Missed = true; // it fell due while the computer was off
    alarm.Sound = QStringLiteral("Bells1");
    alarms.append(BuildAlarmString(alarm));
    return alarms;
}

bool shootMainWindow(const QString& parent, bool singleLine, const QString& path)
{
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    const QString folder = parent + (singleLine ? QStringLiteral("/single") : QStringLiteral("/double"));
    QDir().mkpath(folder);
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    ini.WriteList(Settings::Alarms, exampleList());
    ini.Write(Settings::FirstStarted, true);
    ini.Write(Settings::IsSingleLine, singleLine);
    TestProgram program(folder);
    TMainForm* main = &program.Main();
    main->resize(620, singleLine ? 330 : 440);
    main->show();
    QApplication::processEvents();
    return save(main->grab(), path);
}

struct Look {
    const char* name;
    const char* locale;
    int languageId;
    bool dark;
};

constexpr Look kLooks[] = {
    {"en-12h", "en_US", EnglishLanguageId, false},
    {"de-24h", "de_DE", 1031, false},
    {"dark", "en_US", EnglishLanguageId, true},
    {"scaled", "en_US", EnglishLanguageId, false},
};

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2e));
    palette.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    palette.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2b, 0x2e));
    palette.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    palette.setColor(QPalette::Button, QColor(0x35, 0x35, 0x39));
    palette.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0x6f, 0xb4));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0x35, 0x35, 0x39));
    palette.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
    palette.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    return palette;
}

/** Every window of the program in one language, locale and palette. */
bool shootLook(const Look& look, const QString& langs, const QString& sounds, const QString& work, const QDir& out)
{
    if (look.dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
    }
    QLocale::setDefault(QLocale(QString::fromLatin1(look.locale)));
    const QString folder = work + u'/' + QString::fromLatin1(look.name);
    QDir().mkpath(folder);
    {
        TAppIni seed(folder, folder);
        seed.SetFileName(folder + QStringLiteral("/Data.ini"));
        seed.WriteList(Settings::Alarms, exampleList());
        seed.Write(Settings::FirstStarted, true);
    }
    TestProgram program(folder, langs, look.languageId);
    const auto file = [&](const char* window) {
        return out.filePath(QString::fromLatin1(look.name) + u'-' + QString::fromLatin1(window) +
                            QStringLiteral(".png"));
    };
    TMainForm& main = program.Main();
    main.resize(620, 440);
    main.show();
    QApplication::processEvents();
    bool ok = save(main.grab(), file("main"));
    main.hide();
    ok = shootEditor(program.Lang(), sounds, QString::fromLatin1(look.locale), look.languageId, file("editor")) && ok;
    program.Wakeup().ShowAlarm(BuildAlarmString(exampleAlarm()));
    QApplication::processEvents();
    ok = save(program.Wakeup().grab(), file("notification")) && ok;
    program.Wakeup().DismissAlarm();
    ok = shootClock(program.Lang(), program.Ini(), QString::fromLatin1(look.locale), look.languageId, file("clock")) &&
         ok;
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3 && arguments.size() != 4) {
        std::fprintf(stderr, "usage: %s <Langs folder> <output folder> [en-12h|de-24h|dark|scaled]\n", argv[0]);
        return 2;
    }
    const QString langs = arguments.at(1);
    const QDir out(arguments.at(2));

    // Stock sounds to fill the sound list; the files need no sound in them.
    QTemporaryDir work;
    const QString sounds = work.filePath(QStringLiteral("Sounds")) + u'/';
    QDir().mkpath(sounds);
    for (const char* name : {"Bells1", "Birds", "Christmas", "Clock", "Rooster"}) {
        QFile file(sounds + QString::fromLatin1(name) + QStringLiteral(".mp3"));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
    }
    TAppIni ini(work.path(), sounds);
    ini.SetFileName(work.filePath(QStringLiteral("Data.ini")));
    if (arguments.size() == 4) {
        for (const Look& look : kLooks) {
            if (arguments.at(3) == QLatin1String(look.name))
                return shootLook(look, langs, sounds, work.path(), out) ? 0 : 1;
        }
        std::fprintf(stderr, "unknown look %s\n", qPrintable(arguments.at(3)));
        return 2;
    }
    TMgLang lang(langs, 1033);

    bool ok = shootEditor(lang, sounds, QStringLiteral("en_US"), EnglishLanguageId,
                          out.filePath(QStringLiteral("editor-12h.png")));
    ok = shootEditor(lang, sounds, QStringLiteral("de_DE"), 1031, out.filePath(QStringLiteral("editor-24h.png"))) && ok;
    ok = shootClock(lang, ini, QStringLiteral("en_US"), EnglishLanguageId,
                    out.filePath(QStringLiteral("floating-clock.png"))) &&
         ok;
    ok = shootMainWindow(work.path(), false, out.filePath(QStringLiteral("main-window.png"))) && ok;
    ok = shootMainWindow(work.path(), true, out.filePath(QStringLiteral("main-window-single-line.png"))) && ok;
    return ok ? 0 : 1;
}
