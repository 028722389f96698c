#pragma once

#include "PulseTestServer.h"
#include "SessionManager.h"
#include "XDisplay.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

/**
 * A whole private desktop for the program: an X server (Xvfb) on a display nobody else uses, a
 * window manager (openbox), a tray host (trayer), a notification server (dunst), all on a D-Bus
 * session bus of their own, and a PulseAudio server with a null sink ("alarmtest") whose monitor
 * shows what the program plays. Optionally an X session manager. Started once per test executable;
 * every process is a child of the test that dies with it, and Stop() ends each by its process id.
 */
class Desktop final
{
public:
    struct Options {
        bool sessionManager = false;
    };

    Desktop() = default;
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    /** Starts everything and waits until each piece answers; false (with why) when one did not. */
    bool Start(const Options& options, QString* why);
    void Stop();

    QString Display() const { return m_display; }
    QByteArray BusAddress() const { return m_busAddress; }
    /** The sound server's socket as PULSE_SERVER names it. */
    QString PulseServer() const { return m_pulseServer; }
    PulseTestServer& Pulse() { return m_pulse; }
    XDisplay& X() { return m_x; }
    /** Null when the desktop was started without one. */
    SessionManager* Session() { return m_session.get(); }
    /** A folder for files the tests make (sounds, program copies); gone with the desktop. */
    QString Scratch() const { return m_scratch ? m_scratch->path() : QString(); }

    /** The environment a program of this desktop's user session gets. */
    QProcessEnvironment SessionEnvironment() const;
    /** Runs a tool of the session (pactl, xdotool) to its end; its exit code, -1 when it hung for timeoutMs. */
    int RunTool(const QString& program, const QStringList& arguments, QString* output = nullptr,
                int timeoutMs = 5000) const;

private:
    bool startHelper(std::unique_ptr<QProcess>& process, const QString& program, const QStringList& arguments,
                     const QString& name, QString* why);
    bool waitFor(const std::function<bool()>& ready, int timeoutMs, const QProcess* helper) const;

    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_runtimeDir;
    QString m_configHome;
    QString m_display;
    QByteArray m_busAddress;
    QString m_pulseServer;
    std::unique_ptr<QProcess> m_xserver;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_windowManager;
    std::unique_ptr<QProcess> m_tray;
    std::unique_ptr<QProcess> m_notifications;
    PulseTestServer m_pulse;
    XDisplay m_x;
    std::unique_ptr<SessionManager> m_session;
};

/** Waits for a condition while the test's event loop runs; false when timeoutMs passed without it. */
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs = 5);

/** Makes a process started by the test die with it. */
void DieWithTest(QProcess& process);
/** Ends a helper process: asked first, killed when it does not go within three seconds. */
void StopProcess(std::unique_ptr<QProcess>& process);
