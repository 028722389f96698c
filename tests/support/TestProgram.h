#pragma once

#include "app/AppController.h"
#include "platform/fake/FakePlatform.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

class TAlarmForm;
class TAppIni;
class TMainForm;
class TMgLang;
class TWakeupForm;

/**
 * The whole program in the test's process: the real owner object, windows, scheduler and settings
 * store, on a fake platform, a silent sound output and in-memory volume, with the data in one
 * temporary folder and the stock sounds as shipped. Data.ini is whatever the test wrote there before; the program
 * starts in the tray.
 */
class TestProgram final
{
public:
    /** prepare sets the fake platform up before the program starts on it. */
    explicit TestProgram(const QString& folder, const QString& langsFolder = QString(), int languageId = 9,
                         const std::function<void(FakePlatform&)>& prepare = {});
    ~TestProgram();

    /** From now on the program's schedule reads this local time; until then the real clock. */
    void SetNow(const QDateTime& local) { *m_now = local; }
    /** Sets the clock to the instant the alarm timer stands at and lets it fire; false when none was armed. */
    bool FireNextAlarm();

    /** False when the program refused to start (it would have ended with that code). */
    bool Started() const { return m_started; }
    AppController& Controller() { return *m_controller; }
    FakePlatform& Platform() { return *m_platform; }
    TMainForm& Main() { return *m_controller->MainForm(); }
    TAlarmForm& Editor() { return *m_controller->AlarmForm(); }
    TWakeupForm& Wakeup() { return *m_controller->WakeupForm(); }
    TAppIni& Ini() { return *m_controller->Ini(); }
    TMgLang& Lang() { return *m_controller->Lang(); }

private:
    FakePlatform* m_platform = nullptr; // owned by the controller
    std::shared_ptr<QDateTime> m_now = std::make_shared<QDateTime>();
    std::unique_ptr<AppController> m_controller;
    bool m_started = false;
};
