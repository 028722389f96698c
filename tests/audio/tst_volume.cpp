#include "PulseTestServer.h"
#include "SoundPlayer.h"
#include "VolumeSetForm.h"
#include "fake/FakeVolume.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "TestSupport.h"

namespace {

struct MixerCase {
    std::shared_ptr<FakeMixerState> state = std::make_shared<FakeMixerState>();
    std::unique_ptr<TVolumeSetForm> volume;

    MixerCase(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t value)
    {
        state->minimum = minimum;
        state->maximum = maximum;
        state->value = value;
        // A sound server that does not answer: every operation takes the mixer path.
        auto endpoint = std::make_shared<FakeEndpointState>();
        endpoint->serverAnswers = false;
        volume = std::make_unique<TVolumeSetForm>(std::make_unique<FakeVolumeEndpoint>(endpoint),
                                                  std::make_unique<FakeVolumeMixer>(state));
    }
};

struct EndpointCase {
    std::shared_ptr<FakeEndpointState> state = std::make_shared<FakeEndpointState>();
    std::shared_ptr<FakeMixerState> mixer = std::make_shared<FakeMixerState>();
    std::unique_ptr<TVolumeSetForm> volume;

    EndpointCase(double scalar, bool muted)
    {
        state->scalar = scalar;
        state->muted = muted;
        mixer->value = 40000;
        volume = std::make_unique<TVolumeSetForm>(std::make_unique<FakeVolumeEndpoint>(state),
                                                  std::make_unique<FakeVolumeMixer>(mixer));
    }
};

enum class Op { Set, Up, Down };

void Apply(TVolumeSetForm& volume, Op op, unsigned percent)
{
    switch (op) {
    case Op::Set:
        volume.SetVolume(percent);
        break;
    case Op::Up:
        volume.VolumeUp(percent);
        break;
    case Op::Down:
        volume.VolumeDown(percent);
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Op)

class TestVolume : public QObject
{
    Q_OBJECT

private:
    PulseTestServer m_server;

    std::unique_ptr<TVolumeSetForm> SystemVolume()
    {
        return std::make_unique<TVolumeSetForm>(CreateSystemVolumeEndpoint(), nullptr);
    }

private slots:
    void mixerArithmetic_data()
    {
        QTest::addColumn<quint32>("minimum");
        QTest::addColumn<quint32>("maximum");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<Op>("op");
        QTest::addColumn<unsigned>("percent");
        QTest::addColumn<quint32>("written");   // value the mixer holds afterwards
        QTest::addColumn<unsigned>("readBack"); // GetVolume afterwards

        QTest::newRow("50 % on a 0..65535 control is written as 32750 and reads back as 50")
            << 0u << 65535u << 0u << Op::Set << 50u << 32750u << 50u;
        QTest::newRow("setting 0 lowers by 100 and ends at the minimum")
            << 0u << 65535u << 30000u << Op::Set << 0u << 0u << 0u;
        QTest::newRow("setting 150 raises by 100 and ends at the maximum")
            << 0u << 65535u << 30000u << Op::Set << 150u << 65535u << 100u;
        QTest::newRow("setting 1 on a control starting above zero is held at its minimum")
            << 1000u << 11000u << 5000u << Op::Set << 1u << 1000u << 10u;
        QTest::newRow("raising stops at the maximum") << 0u << 65535u << 60000u << Op::Up << 10u << 65535u << 100u;
        QTest::newRow("raising by 10 adds ten steps") << 0u << 65535u << 6550u << Op::Up << 10u << 13100u << 20u;
        QTest::newRow("lowering below zero wraps and becomes the minimum")
            << 0u << 65535u << 1000u << Op::Down << 5u << 0u << 0u;
        QTest::newRow("lowering below a minimum above zero becomes the minimum")
            << 1000u << 11000u << 1200u << Op::Down << 5u << 1000u << 10u;
        QTest::newRow("lowering by 10 removes ten steps") << 0u << 65535u << 32750u << Op::Down << 10u << 26200u << 40u;
        QTest::newRow("a control with fewer than 100 units counts one unit per percent")
            << 0u << 87u << 10u << Op::Set << 60u << 60u << 60u;
        QTest::newRow("raising by 0 does nothing") << 0u << 65535u << 6550u << Op::Up << 0u << 6550u << 10u;
        QTest::newRow("raising by 101 does nothing") << 0u << 65535u << 6550u << Op::Up << 101u << 6550u << 10u;
        QTest::newRow("lowering by 0 does nothing") << 0u << 65535u << 6550u << Op::Down << 0u << 6550u << 10u;
        QTest::newRow("lowering by 101 does nothing") << 0u << 65535u << 6550u << Op::Down << 101u << 6550u << 10u;
    }

    void mixerArithmetic()
    {
        QFETCH(quint32, minimum);
        QFETCH(quint32, maximum);
        QFETCH(quint32, value);
        QFETCH(Op, op);
        QFETCH(unsigned, percent);
        QFETCH(quint32, written);
        QFETCH(unsigned, readBack);
        MixerCase mixer(minimum, maximum, value);
        QVERIFY(mixer.volume->Available());
        QVERIFY(!mixer.volume->UsesEndpoint());
        Apply(*mixer.volume, op, percent);
        QCOMPARE(mixer.state->value, written);
        QCOMPARE(mixer.volume->GetVolume(), readBack);
    }

    void mixerStepIsAHundredthOfTheRange()
    {
        MixerCase mixer(0, 65535, 0);
        QCOMPARE(mixer.volume->Step(), 655u);
    }

    void mixerMuteFlipsOnlyOnChange()
    {
        MixerCase mixer(0, 65535, 1000);
        mixer.volume->SetMute(false);
        QCOMPARE(mixer.state->muteWrites, 0);
        mixer.volume->SetMute(true);
        QCOMPARE(mixer.state->muteValue, 1u);
        QVERIFY(mixer.volume->GetMute());
        mixer.volume->SetMute(false);
        QCOMPARE(mixer.state->muteValue, 0u);
        QCOMPARE(mixer.state->muteWrites, 2);
    }

    void mixerReadFailureChangesNothing()
    {
        MixerCase mixer(0, 65535, 6550);
        mixer.state->readsFail = true;
        mixer.volume->SetVolume(50);
        mixer.volume->VolumeUp(10);
        mixer.volume->SetMute(true);
        QCOMPARE(mixer.state->valueWrites, 0);
        QCOMPARE(mixer.state->muteWrites, 0);
        QCOMPARE(mixer.volume->GetVolume(), 0u);
        QCOMPARE(mixer.volume->GetMute(), false);
    }

    void nothingAvailableReadsZeroAndChangesNothing()
    {
        auto endpoint = std::make_shared<FakeEndpointState>();
        endpoint->serverAnswers = false;
        auto mixerState = std::make_shared<FakeMixerState>();
        mixerState->present = false;
        TVolumeSetForm volume(std::make_unique<FakeVolumeEndpoint>(endpoint),
                              std::make_unique<FakeVolumeMixer>(mixerState));
        QVERIFY(!volume.Available());
        volume.SetVolume(50);
        volume.SetMute(true);
        QCOMPARE(volume.GetVolume(), 0u);
        QCOMPARE(volume.GetMute(), false);
        QCOMPARE(endpoint->scalarWrites + endpoint->muteWrites + mixerState->valueWrites + mixerState->muteWrites, 0);
    }

    void endpointArithmetic_data()
    {
        QTest::addColumn<double>("scalar");
        QTest::addColumn<Op>("op");
        QTest::addColumn<unsigned>("percent");
        QTest::addColumn<double>("written");
        QTest::addColumn<unsigned>("readBack");
        QTest::newRow("30 % is written as 0.30") << 0.8 << Op::Set << 30u << 0.30 << 30u;
        QTest::newRow("a volume read as 0.804 counts as 80 %") << 0.804 << Op::Up << 0u << 0.804 << 80u;
        QTest::newRow("setting 0 ends at 0") << 0.8 << Op::Set << 0u << 0.0 << 0u;
        QTest::newRow("setting 150 ends at 100") << 0.8 << Op::Set << 150u << 1.0 << 100u;
        QTest::newRow("raising by 30 from 90 stops at 100") << 0.9 << Op::Up << 30u << 1.0 << 100u;
        QTest::newRow("lowering by 50 from 30 stops at 0") << 0.3 << Op::Down << 50u << 0.0 << 0u;
        QTest::newRow("lowering by 25 from 80 gives 55") << 0.8 << Op::Down << 25u << 0.55 << 55u;
        QTest::newRow("an amplified volume counts as 100 %") << 1.5 << Op::Up << 0u << 1.5 << 100u;
    }

    void endpointArithmetic()
    {
        QFETCH(double, scalar);
        QFETCH(Op, op);
        QFETCH(unsigned, percent);
        QFETCH(double, written);
        QFETCH(unsigned, readBack);
        EndpointCase endpoint(scalar, false);
        QVERIFY(endpoint.volume->UsesEndpoint());
        Apply(*endpoint.volume, op, percent);
        QVERIFY2(std::abs(endpoint.state->scalar - written) < 1e-9,
                 qPrintable(QString::number(endpoint.state->scalar)));
        QCOMPARE(endpoint.volume->GetVolume(), readBack);
        QCOMPARE(endpoint.mixer->valueWrites, 0);
    }

    void unmutingAnUnmutedEndpointDoesNotReadTheVolume()
    {
        EndpointCase endpoint(0.5, false);
        const int readsBefore = endpoint.state->scalarReads;
        endpoint.volume->SetMute(false);
        QCOMPARE(endpoint.state->muteWrites, 0);
        QCOMPARE(endpoint.state->scalarReads, readsBefore);
        QVERIFY(!endpoint.state->muted);
    }

    void endpointMuteLeavesTheMixerMuteAlone()
    {
        EndpointCase endpoint(0.5, true);
        endpoint.mixer->muteValue = 1;
        endpoint.volume->SetMute(false);
        QVERIFY(!endpoint.state->muted);
        endpoint.volume->SetMute(true);
        QVERIFY(endpoint.state->muted);
        QCOMPARE(endpoint.mixer->muteWrites, 0);
        QCOMPARE(endpoint.mixer->muteValue, 1u);
    }

    void everyOperationLooksUpTheOutputAgain()
    {
        EndpointCase endpoint(0.5, false);
        const int before = endpoint.state->acquires;
        endpoint.volume->SetVolume(40);
        endpoint.volume->SetMute(true);
        endpoint.volume->VolumeUp(5);
        QCOMPARE(endpoint.state->acquires, before + 3);
    }

    void serverGoneFallsBackToTheMixer()
    {
        EndpointCase endpoint(0.5, false);
        QVERIFY(endpoint.volume->UsesEndpoint());
        endpoint.state->serverAnswers = false;
        endpoint.volume->SetVolume(50);
        QVERIFY(!endpoint.volume->UsesEndpoint());
        QCOMPARE(endpoint.mixer->value, 50u * 655u);
    }

    // Against a real server from here on.

    void initTestCase()
    {
        QString why;
        QVERIFY2(m_server.Start(&why), qPrintable(why));
    }

    void cleanupTestCase() { m_server.Stop(); }

    void serverVolumeIsReadAndWritten()
    {
        QVERIFY(
            m_server.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("45%")}));
        QVERIFY(m_server.Pactl({QStringLiteral("set-sink-mute"), PulseTestServer::SinkName(), QStringLiteral("0")}));
        auto volume = SystemVolume();
        QVERIFY(volume->Available());
        QVERIFY(volume->UsesEndpoint());
        QCOMPARE(volume->GetVolume(), 45u);
        QCOMPARE(volume->GetMute(), false);
        volume->SetVolume(72);
        QCOMPARE(m_server.SinkVolumeRaw(), 47186); // 0.72 × 65536, rounded
        volume->SetMute(true);
        QVERIFY(m_server.SinkMuted());
        QCOMPARE(volume->GetMute(), true);
    }

    void alarmVolumeIsRestoredExactly_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("dismissed with OK") << QStringLiteral("stop");
        QTest::newRow("the sound ended by itself") << QStringLiteral("end");
        QTest::newRow("the play duration ran out") << QStringLiteral("duration");
    }

    void alarmVolumeIsRestoredExactly()
    {
        QFETCH(QString, ending);
        QTemporaryDir files;
        const QString tone = files.filePath(QStringLiteral("tone.wav"));
        QProcess sox;
        sox.start(QStringLiteral("sox"), {QStringLiteral("-n"), tone, QStringLiteral("synth"), QStringLiteral("0.4"),
                                          QStringLiteral("sine"), QStringLiteral("440")});
        QVERIFY(sox.waitForFinished(30000) && sox.exitCode() == 0);

        QVERIFY(
            m_server.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("80%")}));
        QVERIFY(m_server.Pactl({QStringLiteral("set-sink-mute"), PulseTestServer::SinkName(), QStringLiteral("1")}));

        auto volume = SystemVolume();
        SoundPlayer player(CreateSoundOutput(), volume.get(), files.path(), {});
        player.SetPlayDuration(1);
        // What the notification window does for an alarm with VolumeOn and Volume 30.
        player.PlaySound(tone, ending != QStringLiteral("end"), true, false, SoundPlayer::Fallback::BuiltInSound);
        player.StartStopSoundTimer();
        player.SaveSystemVolume();
        volume->SetMute(false);
        volume->SetVolume(30);
        QVERIFY(player.IsPlaying());
        QCOMPARE(m_server.SinkMuted(), false);
        QCOMPARE(m_server.SinkVolumePercent(), 30);

        if (ending == QStringLiteral("stop"))
            player.StopSound();
        else if (ending == QStringLiteral("duration"))
            player.tmrStopSound.setInterval(100); // the minute, compressed
        QTRY_VERIFY_WITH_TIMEOUT(!player.IsPlaying(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_server.SinkMuted(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.SinkVolumePercent(), 80, 5000);
    }

    void defaultOutputChangesAreFollowed()
    {
        QString index;
        QVERIFY(m_server.Pactl(
            {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=headset")},
            &index));
        QVERIFY(m_server.Pactl({QStringLiteral("set-sink-volume"), QStringLiteral("headset"), QStringLiteral("90%")}));
        QVERIFY(
            m_server.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("90%")}));
        auto volume = SystemVolume();
        volume->SetVolume(20);
        QCOMPARE(m_server.SinkVolumePercent(), 20);
        QVERIFY(m_server.Pactl({QStringLiteral("set-default-sink"), QStringLiteral("headset")}));
        volume->SetVolume(35);
        QCOMPARE(m_server.SinkVolumePercent(QStringLiteral("headset")), 35);
        QCOMPARE(m_server.SinkVolumePercent(), 20);
        QVERIFY(m_server.Pactl({QStringLiteral("set-default-sink"), PulseTestServer::SinkName()}));
        QVERIFY(m_server.Pactl({QStringLiteral("unload-module"), index.trimmed()}));
    }

    void frozenServerDoesNotHang()
    {
        auto volume = SystemVolume();
        QVERIFY(volume->Available());
        m_server.Freeze();
        QElapsedTimer clock;
        clock.start();
        const unsigned read = volume->GetVolume();
        volume->SetVolume(50);
        const qint64 elapsed = clock.elapsed();
        m_server.Thaw();
        QCOMPARE(read, 0u);
        QVERIFY2(elapsed < 6000, qPrintable(QString::number(elapsed)));
    }

    void noServerLeavesTheVolumeUnavailable()
    {
        QTemporaryDir nowhere;
        ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(nowhere.path()));
        QElapsedTimer clock;
        clock.start();
        auto volume = SystemVolume();
        QVERIFY(!volume->Available());
        QCOMPARE(volume->GetVolume(), 0u);
        QCOMPARE(volume->GetMute(), false);
        QVERIFY(clock.elapsed() < 2000);
    }
};

QTEST_GUILESS_MAIN(TestVolume)
#include "tst_volume.moc"
