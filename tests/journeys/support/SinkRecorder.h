#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

/**
 * Records the null sink's monitor for as long as it lives and tells what arrived since the last
 * Reset: whether anything was loud, when, and how loud at most. What a listener in the room hears.
 * Reading happens while the test's event loop runs (WaitUntil and the QTRY macros).
 */
class SinkRecorder final
{
public:
    SinkRecorder() = default;
    ~SinkRecorder();
    SinkRecorder(const SinkRecorder&) = delete;
    SinkRecorder& operator=(const SinkRecorder&) = delete;

    bool Start(const QProcessEnvironment& environment, const QString& sink);
    void Stop();
    /** Forgets what arrived so far; times are counted from here. */
    void Reset();
    /** Takes in what the recorder has delivered so far. */
    void Poll();

    bool Heard() const { return m_firstLoudMs >= 0; }
    /** Milliseconds since Reset of the first and last loud sample, -1 when none. */
    qint64 FirstLoudMs() const { return m_firstLoudMs; }
    qint64 LastLoudMs() const { return m_lastLoudMs; }
    qint64 SinceResetMs() const { return m_clock.elapsed(); }
    /** The loudest sample since Reset, 0..32768. */
    int Peak() const { return m_peak; }
    /** Milliseconds of recording taken in since Reset (the server's clock, not the test's). */
    qint64 RecordedMs() const { return m_samples * 1000 / kRate; }

    static constexpr int kThreshold = 1000; // about -30 dBFS: silence and dither stay far below
    static constexpr int kRate = 44100;

private:
    std::unique_ptr<QProcess> m_recorder;
    QByteArray m_pending;
    QElapsedTimer m_clock;
    qint64 m_samples = 0;
    qint64 m_firstLoudMs = -1;
    qint64 m_lastLoudMs = -1;
    int m_peak = 0;
};
