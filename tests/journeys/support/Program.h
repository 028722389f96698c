#pragma once

#include "Desktop.h"
#include "ShiftedClock.h"
#include "XDisplay.h"
#include "core/app/ProfileDocument.h"

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

/** The program's windows as a user tells them apart. */
enum class WindowKind { Main, Alarm, Editor, MessageBox, FloatingClock, Menu };

/** What kind of window of the program this is; nullopt for helpers (selection owners, tooltips). */
std::optional<WindowKind> KindOf(const XWindow& window);

/** How the program is started: its data folder's contents, its environment, its switches. */
struct ProgramSetup {
    QStringList alarms;                          // AlarmStrings, written to Data.ini
    bool autorun = true;                         // -autorun: stays in the tray
    bool firstStarted = true;                    // FirstStarted=1: no first-start greeting
    QList<std::pair<QString, QString>> settings; // more keys of section Main
    std::optional<qint64> clockOffsetMs;         // LARKBELL_TEST_CLOCK_OFFSET_MS
    ShiftedClock::Zone zone;                     // TZ; nullopt leaves it unset
    QMap<QString, QString> environment;          // anything else
    QStringList unset;                           // variables of the session the program does not get
    QStringList arguments;                       // after -debug (and -autorun)
};

/**
 * One run of the real program on a desktop, in a data folder of its own, started with -debug so that
 * it writes Log.txt there. The executable is a private copy per test executable: the single-instance
 * rule is per executable file, and other tests run copies from the build folder at the same time.
 */
class Program final
{
public:
    /** The copy of the program the tests of one executable share; made once in the desktop's scratch folder. */
    static QString PrivateCopy(Desktop& desktop, const QString& built);

    Program(Desktop& desktop, QString exe);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    /** A fresh data folder with Data.ini as the setup says; Start(setup, why, true) then runs on it. */
    bool Prepare(const ProgramSetup& setup);
    /** Prepares a fresh data folder (unless keepData and one exists) and starts the program. */
    bool Start(const ProgramSetup& setup, QString* why = nullptr, bool keepData = false);
    /** The program logged that its tray icon is up: start-up is over. */
    bool WaitUntilStarted(int timeoutMs = 15000);
    bool Running() const;
    qint64 Pid() const { return m_pid; }
    /** Waits for the process to end; true when it did within timeoutMs. */
    bool WaitForExit(int timeoutMs);
    bool ExitedCleanly() const;
    QString ExitDescription() const;
    void Signal(int signal);
    /** Ends it at once (SIGKILL by process id) if it still runs. */
    void Kill();

    /** Starts another copy of the same executable with the same environment and waits for its end. */
    int RunSecondCopy(const QStringList& arguments, int timeoutMs, QString* output = nullptr);
    /** Starts a second copy and leaves it running; the caller waits for it. */
    QProcess* StartSecondCopy(const QStringList& arguments);

    QString DataDir() const;
    QString DataFile() const;
    QString LogText() const;
    /** The messages of the log, without their time stamps. */
    QStringList LogMessages() const;
    int LogCount(const QString& needle) const;
    bool WaitForLog(const QString& needle, int count, int timeoutMs);
    /** Data.ini as it is on disk now. */
    ProfileDocument Saved() const;
    std::optional<QString> SavedValue(const QString& key) const;
    QStringList SavedAlarms() const;

    QList<XWindow> Windows();
    std::optional<XWindow> Find(WindowKind kind);
    bool WaitForWindow(WindowKind kind, int timeoutMs, XWindow* found = nullptr);
    bool WaitForNoWindow(WindowKind kind, int timeoutMs);
    std::optional<XWindow> TrayIcon();
    bool WaitForTrayIcon(int timeoutMs, XWindow* found = nullptr);

    /** The process's state, its threads' stacks, the tail of its log and the screen, for a failure report. */
    QString Diagnostics();
    /** What the program wrote on stdout and stderr. */
    QString Output() const;

    Desktop& desktop() { return m_desktop; }
    QProcessEnvironment Environment() const { return m_environment; }

private:
    bool writeData(const ProgramSetup& setup);

    Desktop& m_desktop;
    QString m_exe;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<QProcess> m_process;
    QList<QProcess*> m_copies;
    QProcessEnvironment m_environment;
    qint64 m_pid = 0;
};
