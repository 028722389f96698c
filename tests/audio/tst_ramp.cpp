#include "PulseTestServer.h"
#include "TestSupport.h"
#include "audio/RampDecoder.h"
#include "audio/SoundPlayer.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// Every sample 1.0 for `frames` frames of `channels` channels, then the end; Rewind starts it again.
class ConstantDecoder final : public ISoundDecoder
{
public:
    ConstantDecoder(int rate, int channels, std::int64_t frames)
        : m_format{rate, channels}
        , m_frames(frames)
    {}
    SoundFormat Format() const override { return m_format; }
    std::int64_t Read(float* buffer, std::int64_t frames) override
    {
        const std::int64_t n = std::min(frames, m_frames - m_position);
        for (std::int64_t i = 0; i < n * m_format.channels; ++i)
            buffer[i] = 1.0f;
        m_position += n;
        return n;
    }
    bool Rewind() override
    {
        m_position = 0;
        ++rewinds;
        return true;
    }
    int rewinds = 0;

private:
    SoundFormat m_format;
    std::int64_t m_frames;
    std::int64_t m_position = 0;
};

// Writes a sine tone with sox (an encoder independent of the decoder under test).
bool MakeTone(const QString& path, double seconds, QString* why)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
               QStringLiteral("1"), path, QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"),
               QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")});
    if (sox.waitForFinished(30000) && sox.exitStatus() == QProcess::NormalExit && sox.exitCode() == 0)
        return true;
    *why = QString::fromLocal8Bit(sox.readAllStandardError()) + sox.errorString();
    return false;
}

/**
 * Keeps every sample of the null sink's monitor (mono, 16 bit, 44.1 kHz) from Reset on. The monitor runs on the
 * server's clock without gaps while the keep-alive stream plays, so a sample's index is its time since Reset.
 */
class LevelRecorder final
{
public:
    static constexpr int kRate = 44100;

    ~LevelRecorder() { Stop(); }

    bool Start()
    {
        m_recorder = std::make_unique<QProcess>();
        m_recorder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_recorder->start(QStringLiteral("parec"),
                          {QStringLiteral("-d"), PulseTestServer::SinkName() + QStringLiteral(".monitor"),
                           QStringLiteral("--raw"), QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                           QStringLiteral("--rate=44100"), QStringLiteral("--latency-msec=10")});
        return m_recorder->waitForStarted(5000);
    }

    void Stop()
    {
        if (!m_recorder)
            return;
        m_recorder->kill();
        m_recorder->waitForFinished(5000);
        m_recorder.reset();
    }

    void Reset()
    {
        m_recorder->readAllStandardOutput();
        m_pending.clear();
        m_samples.clear();
    }

    /** Waits until ms milliseconds have been recorded since Reset; false on timeout or a recorder that ended. */
    bool WaitForMs(int ms, int timeoutMs = 20000)
    {
        const std::size_t wanted = static_cast<std::size_t>(ms) * kRate / 1000;
        QDeadlineTimer deadline(timeoutMs);
        while (m_samples.size() < wanted) {
            if (deadline.hasExpired() || m_recorder->state() != QProcess::Running)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            m_recorder->waitForReadyRead(20);
            Take();
        }
        return true;
    }

    /** Waits until a sample louder than threshold has been recorded; its time in ms since Reset, or -1. */
    double WaitForLoud(int threshold, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        std::size_t checked = 0;
        while (!deadline.hasExpired() && m_recorder->state() == QProcess::Running) {
            for (; checked < m_samples.size(); ++checked) {
                if (std::abs(m_samples[checked]) > threshold)
                    return checked * 1000.0 / kRate;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            m_recorder->waitForReadyRead(20);
            Take();
        }
        return -1;
    }

    /** Root mean square of the samples from fromMs for lengthMs. */
    double Rms(double fromMs, double lengthMs) const
    {
        const auto first = static_cast<std::size_t>(fromMs * kRate / 1000);
        const auto last = std::min(m_samples.size(), static_cast<std::size_t>((fromMs + lengthMs) * kRate / 1000));
        if (first >= last)
            return 0;
        double sum = 0;
        for (std::size_t i = first; i < last; ++i)
            sum += double(m_samples[i]) * m_samples[i];
        return std::sqrt(sum / double(last - first));
    }

    int Peak(double fromMs, double lengthMs) const
    {
        const auto first = static_cast<std::size_t>(fromMs * kRate / 1000);
        const auto last = std::min(m_samples.size(), static_cast<std::size_t>((fromMs + lengthMs) * kRate / 1000));
        int peak = 0;
        for (std::size_t i = first; i < last; ++i)
            peak = std::max(peak, std::abs(int(m_samples[i])));
        return peak;
    }

private:
    void Take()
    {
        m_pending += m_recorder->readAllStandardOutput();
        const qsizetype count = m_pending.size() / 2;
        const auto* data = reinterpret_cast<const unsigned char*>(m_pending.constData());
        for (qsizetype i = 0; i < count; ++i)
            m_samples.push_back(static_cast<qint16>(static_cast<quint16>(data[2 * i] | (data[2 * i + 1] << 8))));
        m_pending.remove(0, count * 2);
    }

    std::unique_ptr<QProcess> m_recorder;
    QByteArray m_pending;
    std::vector<qint16> m_samples;
};

// A straight line through points, by least squares.
struct Line {
    double slope = 0;
    double intercept = 0;
};

Line FitLine(const std::vector<double>& x, const std::vector<double>& y)
{
    const double n = double(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    Line line;
    line.slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    line.intercept = (sy - line.slope * sx) / n;
    return line;
}

} // namespace

class TestRamp : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SoundPlayer> MakePlayer()
    {
        return std::make_unique<SoundPlayer>(CreateSoundOutput(), nullptr, m_files.path() + u'/', SoundPlayerHooks{});
    }

    QString Tone() const { return m_files.filePath(QStringLiteral("tone.wav")); }

    // Waits until what an earlier case played has died away at the sink, then starts counting from now.
    void ResetWhenQuiet()
    {
        QDeadlineTimer deadline(5000);
        for (;;) {
            m_recorder.Reset();
            QVERIFY(m_recorder.WaitForMs(200));
            if (m_recorder.Peak(0, 200) < 50)
                break;
            QVERIFY2(!deadline.hasExpired(), "the sink did not fall silent");
        }
        m_recorder.Reset();
    }

    PulseTestServer m_server;
    LevelRecorder m_recorder;
    QTemporaryDir m_files;
    double m_fullRms = 0; // the tone at full volume on the sink, measured by the first case

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        QString why;
        // One second, played looping: the ramp must go on across the rewinds.
        QVERIFY2(MakeTone(Tone(), 1.0, &why), qPrintable(why));
        QVERIFY2(m_server.Start(&why), qPrintable(why));
        QVERIFY(m_server.StartKeepAlive());
        QVERIFY(m_recorder.Start());
    }

    void cleanupTestCase()
    {
        m_recorder.Stop();
        m_server.Stop();
    }

    void gainRisesAsAVolumeSliderPushedSteadily()
    {
        QCOMPARE(RampGain(0, 1000), 0.0f);
        QCOMPARE(RampGain(500, 1000), 0.125f);
        QCOMPARE(RampGain(1000, 1000), 1.0f);
        QCOMPARE(RampGain(5000, 1000), 1.0f);
        QCOMPARE(RampGain(0, 0), 1.0f); // no ramp
        for (std::int64_t frame = 1; frame < 1000; ++frame)
            QVERIFY(RampGain(frame, 1000) > RampGain(frame - 1, 1000));
    }

    void decoderScalesFramesAcrossRewinds()
    {
        // 1 s ramp at 100 frames per second over a 30-frame stereo sound that loops.
        auto inner = std::make_unique<ConstantDecoder>(100, 2, 30);
        ConstantDecoder* raw = inner.get();
        std::unique_ptr<ISoundDecoder> ramped = WithRamp(std::move(inner), 1);
        QCOMPARE(ramped->Format().sampleRate, 100);
        QCOMPARE(ramped->Format().channels, 2);
        std::vector<float> heard;
        float buffer[2 * 7];
        while (heard.size() < 2 * 150) {
            const std::int64_t got = ramped->Read(buffer, 7);
            if (got == 0) {
                QVERIFY(ramped->Rewind());
                continue;
            }
            heard.insert(heard.end(), buffer, buffer + got * 2);
        }
        QCOMPARE(raw->rewinds, 4);
        for (std::size_t frame = 0; frame < 150; ++frame) {
            const float expected = RampGain(std::int64_t(frame), 100);
            QCOMPARE(heard[2 * frame], expected);
            QCOMPARE(heard[2 * frame + 1], expected);
        }
    }

    void noRampLeavesTheDecoderAsItIs()
    {
        auto inner = std::make_unique<ConstantDecoder>(100, 1, 10);
        ISoundDecoder* raw = inner.get();
        QCOMPARE(WithRamp(std::move(inner), 0).get(), raw);
    }

    void withoutARampTheSoundStartsLoud()
    {
        auto player = MakePlayer();
        ResetWhenQuiet();
        player->PlaySound(Tone(), true, false, false);
        const double onset = m_recorder.WaitForLoud(1000, 3000);
        QVERIFY(onset >= 0);
        QVERIFY(m_recorder.WaitForMs(int(onset) + 400));
        m_fullRms = m_recorder.Rms(onset + 200, 200);
        // The first tenth of a second is as loud as the tone gets: a sine at half scale.
        QVERIFY2(m_fullRms > 1000, qPrintable(QString::number(m_fullRms)));
        QVERIFY2(m_recorder.Rms(onset, 100) > 0.9 * m_fullRms,
                 qPrintable(QStringLiteral("%1 of %2").arg(m_recorder.Rms(onset, 100)).arg(m_fullRms)));
        player->StopSound();
    }

    void rampRisesOverItsTime_data()
    {
        QTest::addColumn<int>("preparedRamp"); // -1: nothing prepared
        QTest::newRow("a sound started at once rises from silence") << -1;
        QTest::newRow("the prepared stream rises from silence") << 15;
        QTest::newRow("a stream prepared without the ramp is not the one that plays") << 0;
    }

    void rampRisesOverItsTime()
    {
        QFETCH(int, preparedRamp);
        QVERIFY2(m_fullRms > 0, "needs the full level of the case before");
        constexpr int kRampSeconds = 15;
        constexpr int kMeasuredMs = 3000;
        auto player = MakePlayer();
        if (preparedRamp >= 0) {
            player->PrepareSound(Tone(), true, preparedRamp);
            QCOMPARE(player->PreparedFile(), Tone());
        }
        ResetWhenQuiet();
        const int sinkVolume = m_server.SinkVolumeRaw();
        player->PlaySound(Tone(), true, false, false, SoundPlayer::Fallback::BuiltInSound, kRampSeconds);
        QVERIFY(player->IsPlaying());
        QVERIFY(m_recorder.WaitForMs(kMeasuredMs + 100));

        // The level grows as the cube of the time gone, so its cube root grows in a straight line. Fitted over
        // 1-3 s: where the line meets zero is when the ramp began, and its slope tells the ramp's length.
        std::vector<double> times;
        std::vector<double> roots;
        for (int from = 1000; from + 100 <= kMeasuredMs; from += 100) {
            times.push_back((from + 50) / 1000.0);
            roots.push_back(std::cbrt(m_recorder.Rms(from, 100)));
        }
        const Line line = FitLine(times, roots);
        const double began = -line.intercept / line.slope;
        const double length = std::cbrt(m_fullRms) / line.slope;
        const QString seen = QStringLiteral("began at %1 s, %2 s long").arg(began).arg(length);
        qInfo("ramp %s", qPrintable(seen));
        QVERIFY2(length > kRampSeconds * 0.85 && length < kRampSeconds * 1.15, qPrintable(seen));
        // Started promptly: at most the sink's latency late, whether prepared or not.
        QVERIFY2(began > -0.05 && began < 0.5, qPrintable(seen));
        for (std::size_t i = 0; i < times.size(); ++i) {
            const double expected = line.slope * (times[i] - began);
            // A tenth of a second's rise either way.
            QVERIFY2(std::abs(roots[i] - expected) < 0.1 * line.slope,
                     qPrintable(QStringLiteral("%1 s: %2 instead of %3").arg(times[i]).arg(roots[i]).arg(expected)));
        }
        // Quiet at first: the first tenth of the ramp stays far below the loudness it rises to.
        QVERIFY(m_recorder.Rms(0, kRampSeconds * 100) < 0.01 * m_fullRms);
        QVERIFY(m_recorder.Rms(kMeasuredMs - 300, 300) > 10 * m_recorder.Rms(500, 300));

        // The ramp is in the stream's samples: the sink keeps the volume the alarm set, and the stream stays at
        // its full volume.
        QCOMPARE(m_server.SinkVolumeRaw(), sinkVolume);
        const std::optional<PulseTestServer::SinkInput> input = m_server.FindSinkInput(QStringLiteral("Larkbell"));
        QVERIFY(input);
        for (const int channel : input->channels)
            QCOMPARE(channel, 65536);
        player->StopSound();
    }
};

QTEST_GUILESS_MAIN(TestRamp)
#include "tst_ramp.moc"
