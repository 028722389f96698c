// Gradual volume as a sleeper hears it: the real program rings an alarm whose sound rises over 15 seconds,
// and the sink's monitor hears it begin softly and grow, while the system volume stays where the alarm set it.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "ShiftedClock.h"
#include "SinkRecorder.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

constexpr int kLeadMs = 2000;
constexpr int kAlarmVolume = 70;
constexpr int kRampSeconds = 15;

} // namespace

class TestRampJourney : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString why;
        JOURNEY_VERIFY(
            Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, &m_tone, &why),
            qPrintable(why));
        QVERIFY(m_sink.Start(m_desktop.SessionEnvironment(), PulseTestServer::SinkName()));
    }

    void cleanupTestCase()
    {
        m_sink.Stop();
        m_desktop.Stop();
    }

    void anAlarmWithGradualVolumeStartsSoftAndGrows()
    {
        AlarmRecord alarm = Journey::Alarm(QTime(6, 30), m_tone, true, kAlarmVolume);
        alarm.RampSeconds = kRampSeconds;
        const ShiftedClock::Ring ring = ShiftedClock::PlanRing(alarm.Time, kLeadMs);
        ProgramSetup setup;
        setup.alarms = {Journey::Stored(alarm)};
        setup.clockOffsetMs = ring.offsetMs;
        Program program(m_desktop, m_exe);
        QString why;
        JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        const qint64 untilDue = qMax<qint64>(0, ring.realDueMs - ShiftedClock::NowMs());
        JOURNEY_VERIFY(program.WaitForLog(QStringLiteral("Alarm fired"), 1, int(untilDue) + 4000),
                       qPrintable(QStringLiteral("the alarm did not ring\n") + program.LogText()));
        QElapsedTimer sinceRing;
        sinceRing.start();
        m_sink.Reset();
        JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 3000), "no alarm window");

        // The first seconds: the sound plays, but far below what it grows to.
        JOURNEY_VERIFY(WaitUntil([this] { return m_sink.RecordedMs() >= 2500; }, 5000), "the sink records nothing");
        const int softPeak = m_sink.Peak();
        JOURNEY_VERIFY(!m_sink.Heard(), qPrintable(QStringLiteral("loud at once: peak %1").arg(softPeak)));
        JOURNEY_VERIFY(softPeak > 0, "nothing plays at all in the first seconds");
        QCOMPARE(m_desktop.Pulse().SinkVolumePercent(), kAlarmVolume);

        // It grows until it is heard, well before the ramp's end.
        m_sink.Reset();
        JOURNEY_VERIFY(WaitUntil([this] { return m_sink.Heard(); }, kRampSeconds * 1000),
                       qPrintable(QStringLiteral("never grew loud; the first seconds peaked at %1").arg(softPeak)));
        const qint64 heardAfterMs = sinceRing.elapsed();
        JOURNEY_VERIFY(heardAfterMs > 3000, qPrintable(QStringLiteral("loud after only %1 ms").arg(heardAfterMs)));

        // Past the ramp's end it rings at full: many times the first seconds' level, the system volume untouched.
        JOURNEY_VERIFY(WaitUntil([&sinceRing] { return sinceRing.elapsed() >= kRampSeconds * 1000 + 500; },
                                 kRampSeconds * 1000 + 2000),
                       "the ramp's end never came");
        m_sink.Reset();
        JOURNEY_VERIFY(WaitUntil([this] { return m_sink.RecordedMs() >= 1000; }, 3000), "the sink records nothing");
        const int fullPeak = m_sink.Peak();
        JOURNEY_VERIFY(fullPeak > 20 * softPeak && fullPeak > 3 * SinkRecorder::kThreshold,
                       qPrintable(QStringLiteral("full %1, the first seconds %2").arg(fullPeak).arg(softPeak)));
        QCOMPARE(m_desktop.Pulse().SinkVolumePercent(), kAlarmVolume);

        program.RunSecondCopy({QStringLiteral("-close")}, 5000);
        if (!program.WaitForExit(3000))
            program.Kill();
    }

private:
    Desktop m_desktop;
    QString m_exe;
    QString m_tone;
    SinkRecorder m_sink;
};

QTEST_GUILESS_MAIN(TestRampJourney)
#include "tst_ramp.moc"
