#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

/**
 * A private PulseAudio server with one null sink ("alarmtest") for tests that need real sound
 * output. Start() points this process's XDG_RUNTIME_DIR at a fresh folder (mode 700), so libpulse
 * clients created afterwards connect to it; nothing is autospawned. Everything started is stopped
 * by its process id; should the test itself crash, the server and its helpers die with it
 * (the server runs in the foreground as a child, not daemonised, for that reason). What the server
 * stores (such as the stream-restore database, when a test loads that module) stays in the same
 * private folder.
 */
class PulseTestServer final
{
public:
    PulseTestServer() = default;
    ~PulseTestServer();
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

    static QString SinkName() { return QStringLiteral("alarmtest"); }

    /** Starts the server and makes the null sink the default; false (with why) when it did not come up. */
    bool Start(QString* why = nullptr);
    /** Ends the server (TERM, then KILL) and waits until it is gone. */
    void Stop();
    /** Kills the server at once, as a crash would. */
    void Kill();
    /** Stops / resumes the server process (SIGSTOP / SIGCONT): a server that no longer answers. */
    void Freeze();
    void Thaw();
    qint64 Pid() const { return m_pid; }
    bool Running() const;

    /**
     * Plays silence into the sink with a small latency. An idle null sink renders in blocks of up to
     * 2 s; timing tests keep this running so that sound reaches the monitor promptly.
     */
    bool StartKeepAlive();
    void StopKeepAlive();

    /** Runs pactl against this server; false when it failed or took longer than 5 s. */
    bool Pactl(const QStringList& args, QString* output = nullptr) const;
    /** Every channel of a sink in pulse volume units (65536 = 100 %), in channel order; empty when unreadable. */
    QList<int> SinkVolumeChannels(const QString& sink = SinkName()) const;
    /** Loudest channel of a sink in pulse volume units (65536 = 100 %); -1 when unreadable. */
    int SinkVolumeRaw(const QString& sink = SinkName()) const;
    /** The same as a percent, rounded. */
    int SinkVolumePercent(const QString& sink = SinkName()) const;
    bool SinkMuted(const QString& sink = SinkName()) const;

    /** A playback stream as the server lists it. */
    struct SinkInput {
        int index = -1;
        bool muted = false;
        QList<int> channels; // volume per channel, pulse units
    };
    /** The first playback stream whose application.name is application; empty when there is none. */
    std::optional<SinkInput> FindSinkInput(const QString& application) const;

private:
    std::unique_ptr<QTemporaryDir> m_runtimeDir;
    QByteArray m_oldRuntimeDir;
    bool m_hadRuntimeDir = false;
    bool m_envChanged = false;
    std::unique_ptr<QProcess> m_daemon;
    qint64 m_pid = 0;
    std::unique_ptr<QProcess> m_keepAlive;
};

/** Freezes a server for its lifetime and thaws it on every way out of the scope, a failed check included. */
class ScopedFreeze final
{
public:
    explicit ScopedFreeze(PulseTestServer& server)
        : m_server(server)
    {
        m_server.Freeze();
    }
    ~ScopedFreeze() { m_server.Thaw(); }
    ScopedFreeze(const ScopedFreeze&) = delete;
    ScopedFreeze& operator=(const ScopedFreeze&) = delete;

private:
    PulseTestServer& m_server;
};

/**
 * Records the null sink's monitor (mono, 16 bit, 44.1 kHz) and tells when sound arrives. Waits
 * process Qt events, so timers of the code under test keep running.
 */
class SinkMonitor final
{
public:
    SinkMonitor() = default;
    ~SinkMonitor();
    SinkMonitor(const SinkMonitor&) = delete;
    SinkMonitor& operator=(const SinkMonitor&) = delete;

    bool Start(const QString& sink = PulseTestServer::SinkName());
    void Stop();
    /** Forgets what arrived so far; times are counted from here. */
    void Reset();
    /** Waits until a sample louder than the threshold has arrived since Reset; its arrival in ms since Reset, or -1. */
    qint64 WaitForSound(int timeoutMs);
    /** Waits until nothing loud has arrived for quietMs; false on timeout. */
    bool WaitForQuiet(int quietMs, int timeoutMs);
    /** Loud samples since Reset. */
    qint64 LoudSamples() const { return m_loudSamples; }
    /** Arrival of the first and of the last loud sample in ms since Reset, -1 when none. */
    qint64 FirstLoudMs() const { return m_firstLoudMs; }
    qint64 LastLoudMs() const { return m_lastLoudMs; }

    static constexpr int kThreshold = 1000; // about -30 dBFS

private:
    void Consume();

    std::unique_ptr<QProcess> m_recorder;
    QByteArray m_pending;
    QElapsedTimer m_clock;
    qint64 m_loudSamples = 0;
    qint64 m_firstLoudMs = -1;
    qint64 m_lastLoudMs = -1;
};
