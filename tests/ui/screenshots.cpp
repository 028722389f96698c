// Draws the main window (both layouts), the alarm editor (a 12-hour and a 24-hour locale) and the
// floating clock into PNG files for
// the documentation. Runs on Qt's offscreen platform, so it needs no display:
//
//   QT_QPA_PLATFORM=offscreen larkbell_screenshots <Langs folder> <output folder>

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
#include <QPixmap>
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

bool shootClock(TMgLang& lang, TAppIni& ini, const QString& path)
{
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    lang.ChooseLanguage(EnglishLanguageId);
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

bool shootMainWindow(const QString& parent, bool singleLine, const QString& path)
{
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    const QString folder = parent + (singleLine ? QStringLiteral("/single") : QStringLiteral("/double"));
    QDir().mkpath(folder);
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    QStringList alarms;
    AlarmRecord alarm = exampleAlarm();
    alarms.append(BuildAlarmString(alarm));
    alarm.Time = QTime(7, 30);
    alarm.Days = {true, false, false, false, false, false, true};
    alarm.Label = QStringLiteral("Weekend run");
    alarm.Sound = QStringLiteral("/home/me/Music/Morning playlist/Sunrise.ogg");
    alarms.append(BuildAlarmString(alarm));
    alarm.Time = QTime(13, 15);
    alarm.Days = {};
    alarm.Enabled = false;
    alarm.Label = QStringLiteral("Dentist");
    alarm.Sound = QStringLiteral("Bells1");
    alarms.append(BuildAlarmString(alarm));
    ini.WriteList(Settings::Alarms, alarms);
    ini.Write(Settings::FirstStarted, true);
    ini.Write(Settings::IsSingleLine, singleLine);
    TestProgram program(folder);
    TMainForm* main = &program.Main();
    main->resize(620, singleLine ? 330 : 440);
    main->show();
    QApplication::processEvents();
    return save(main->grab(), path);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: %s <Langs folder> <output folder>\n", argv[0]);
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
    TMgLang lang(langs, 1033);

    bool ok = shootEditor(lang, sounds, QStringLiteral("en_US"), EnglishLanguageId,
                          out.filePath(QStringLiteral("editor-12h.png")));
    ok = shootEditor(lang, sounds, QStringLiteral("de_DE"), 1031, out.filePath(QStringLiteral("editor-24h.png"))) && ok;
    ok = shootClock(lang, ini, out.filePath(QStringLiteral("floating-clock.png"))) && ok;
    ok = shootMainWindow(work.path(), false, out.filePath(QStringLiteral("main-window.png"))) && ok;
    ok = shootMainWindow(work.path(), true, out.filePath(QStringLiteral("main-window-single-line.png"))) && ok;
    return ok ? 0 : 1;
}
