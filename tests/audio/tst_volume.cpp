#include "PulseTestServer.h"
#include "audio/SoundPlayer.h"
#include "audio/VolumeSetForm.h"
#include "platform/fake/FakeVolume.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "TestSupport.h"

namespace {

// Long enough for a back end that answers, short enough that a hang fails the test instead of stalling it.
constexpr int kSettleMs = 5000;

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
        settled = volume->Flush(kSettleMs);
    }
    bool settled = false; // the volume object has looked at its back ends
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
        settled = volume->Flush(kSettleMs);
    }
    bool settled = false;
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
        QVERIFY(mixer.settled);
        QVERIFY(mixer.volume->Available());
        QVERIFY(!mixer.volume->UsesEndpoint());
        Apply(*mixer.volume, op, percent);
        QVERIFY(mixer.volume->Flush(kSettleMs));
        QCOMPARE(mixer.state->value, written);
        QCOMPARE(mixer.volume->GetVolume(), readBack);
    }

    void mixerStepIsAHundredthOfTheRange()
    {
        MixerCase mixer(0, 65535, 0);
        QVERIFY(mixer.settled);
        QCOMPARE(mixer.volume->Step(), 655u);
    }

    void mixerMuteFlipsOnlyOnChange()
    {
        MixerCase mixer(0, 65535, 1000);
        mixer.volume->SetMute(false);
        QVERIFY(mixer.volume->Flush(kSettleMs));
        QCOMPARE(mixer.state->muteWrites, 0);
        mixer.volume->SetMute(true);
        QVERIFY(mixer.volume->Flush(kSettleMs));
        QCOMPARE(mixer.state->muteValue, 1u);
        QVERIFY(mixer.volume->GetMute());
        mixer.volume->SetMute(false);
        QVERIFY(mixer.volume->Flush(kSettleMs));
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
        QVERIFY(mixer.volume->Flush(kSettleMs));
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
        QVERIFY(volume.Flush(kSettleMs));
        QVERIFY(!volume.Available());
        volume.SetVolume(50);
        volume.SetMute(true);
        QVERIFY(volume.Flush(kSettleMs));
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
        QVERIFY(endpoint.settled);
        QVERIFY(endpoint.volume->UsesEndpoint());
        Apply(*endpoint.volume, op, percent);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QVERIFY2(std::abs(endpoint.state->scalar - written) < 1e-9,
                 qPrintable(QString::number(endpoint.state->scalar)));
        QCOMPARE(endpoint.volume->GetVolume(), readBack);
        QCOMPARE(endpoint.mixer->valueWrites, 0);
    }

    void unmutingAnUnmutedEndpointDoesNotReadTheVolume()
    {
        EndpointCase endpoint(0.5, false);
        QVERIFY(endpoint.settled);
        const int readsBefore = endpoint.state->scalarReads;
        endpoint.volume->SetMute(false);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QCOMPARE(endpoint.state->muteWrites, 0);
        QCOMPARE(endpoint.state->scalarReads, readsBefore);
        QVERIFY(!endpoint.state->muted);
    }

    void endpointMuteLeavesTheMixerMuteAlone()
    {
        EndpointCase endpoint(0.5, true);
        endpoint.mixer->muteValue = 1;
        endpoint.volume->SetMute(false);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QVERIFY(!endpoint.state->muted);
        endpoint.volume->SetMute(true);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QVERIFY(endpoint.state->muted);
        QCOMPARE(endpoint.mixer->muteWrites, 0);
        QCOMPARE(endpoint.mixer->muteValue, 1u);
    }

    void theCardsMixerIsOpenedOnlyOnceTheServerFails()
    {
        EndpointCase endpoint(0.5, false);
        QVERIFY(endpoint.settled);
        endpoint.volume->SetVolume(40);
        endpoint.volume->SaveState();
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QCOMPARE(endpoint.mixer->opens, 0);

        endpoint.state->serverAnswers = false;
        endpoint.volume->SetVolume(30);
        endpoint.volume->SetVolume(20);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QCOMPARE(endpoint.mixer->opens, 1);
        QVERIFY(!endpoint.volume->UsesEndpoint());
        QCOMPARE(endpoint.mixer->value, 20u * 655u);
    }

    void everyOperationLooksUpTheOutputAgain()
    {
        EndpointCase endpoint(0.5, false);
        QVERIFY(endpoint.settled);
        const int before = endpoint.state->acquires;
        endpoint.volume->SetVolume(40);
        endpoint.volume->SetMute(true);
        endpoint.volume->VolumeUp(5);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QCOMPARE(endpoint.state->acquires, before + 3);
    }

    void serverGoneFallsBackToTheMixer()
    {
        EndpointCase endpoint(0.5, false);
        QVERIFY(endpoint.settled);
        QVERIFY(endpoint.volume->UsesEndpoint());
        endpoint.state->serverAnswers = false;
        endpoint.volume->SetVolume(50);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QVERIFY(!endpoint.volume->UsesEndpoint());
        QCOMPARE(endpoint.mixer->value, 50u * 655u);
    }

    void savedVolumeComesBackUnrounded_data()
    {
        QTest::addColumn<bool>("throughMixer");
        QTest::newRow("through the sound server, 80.4 % muted comes back as 80.4 % muted") << false;
        QTest::newRow("through the mixer, 6551 units muted come back as 6551 units muted") << true;
    }

    void savedVolumeComesBackUnrounded()
    {
        QFETCH(bool, throughMixer);
        EndpointCase endpoint(0.804, true);
        MixerCase mixer(0, 65535, 6551);
        mixer.state->muteValue = 1;
        TVolumeSetForm& volume = throughMixer ? *mixer.volume : *endpoint.volume;
        QVERIFY(endpoint.settled && mixer.settled);
        // What an alarm with VolumeOn and Volume 30 does, and its end.
        volume.SaveState();
        volume.SetMute(false);
        volume.SetVolume(30);
        QVERIFY(volume.Flush(kSettleMs));
        QCOMPARE(volume.GetVolume(), 30u);
        QCOMPARE(volume.GetMute(), false);
        volume.RestoreState();
        QVERIFY(volume.Flush(kSettleMs));
        if (throughMixer) {
            QCOMPARE(mixer.state->value, 6551u); // 10 % would have been written back as 6550
            QCOMPARE(mixer.state->muteValue, 1u);
        } else {
            QCOMPARE(endpoint.state->scalar, 0.804); // not 0.80
            QVERIFY(endpoint.state->muted);
        }
    }

    void failedSaveRestoresNothing()
    {
        EndpointCase endpoint(0.6, false);
        QVERIFY(endpoint.settled);
        endpoint.state->readsFail = true;
        endpoint.volume->SaveState();
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        endpoint.state->readsFail = false;
        endpoint.volume->SetVolume(30);
        endpoint.volume->RestoreState();
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        // A guess (such as the 0 a failed read gives) would be worse than the alarm's volume.
        QVERIFY2(std::abs(endpoint.state->scalar - 0.30) < 1e-9, qPrintable(QString::number(endpoint.state->scalar)));
    }

    void changesAfterARestoreWaitBehindIt()
    {
        EndpointCase endpoint(0.5, false);
        QVERIFY(endpoint.settled);
        endpoint.volume->SaveState();
        endpoint.volume->SetVolume(30);
        endpoint.volume->RestoreState(std::chrono::milliseconds(150));
        // The next alarm (or the editor's preview) sets its volume right after the last one ended.
        endpoint.volume->SetVolume(70);
        QVERIFY(endpoint.volume->Flush(kSettleMs));
        QVERIFY2(std::abs(endpoint.state->scalar - 0.70) < 1e-9, qPrintable(QString::number(endpoint.state->scalar)));
    }

    void failuresAreReportedOnceUntilAChangeWorks()
    {
        auto state = std::make_shared<FakeEndpointState>();
        auto mixerState = std::make_shared<FakeMixerState>();
        mixerState->present = false;
        TVolumeSetForm volume(std::make_unique<FakeVolumeEndpoint>(state),
                              std::make_unique<FakeVolumeMixer>(mixerState));
        QSignalSpy failed(&volume, &TVolumeSetForm::failed);
        QSignalSpy recovered(&volume, &TVolumeSetForm::recovered);
        QVERIFY(volume.Flush(kSettleMs));

        state->serverAnswers = false;
        volume.SaveState();
        volume.SetMute(false);
        volume.SetVolume(40);
        QVERIFY(volume.Flush(kSettleMs));
        QTRY_COMPARE(failed.count(), 1);
        QVERIFY(!failed.first().first().toString().isEmpty());

        state->serverAnswers = true;
        volume.SetVolume(40);
        QTRY_COMPARE(recovered.count(), 1);
        // Reads are no changes: a read that fails is no news to the user.
        state->serverAnswers = false;
        volume.GetVolume();
        QVERIFY(volume.Flush(kSettleMs));
        volume.SetVolume(20);
        QTRY_COMPARE(failed.count(), 2);
        QCOMPARE(recovered.count(), 1);
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
        QTRY_VERIFY_WITH_TIMEOUT(volume->Ready(), kSettleMs);
        QVERIFY(volume->Available());
        QVERIFY(volume->UsesEndpoint());
        QCOMPARE(volume->GetVolume(), 45u);
        QCOMPARE(volume->GetMute(), false);
        volume->SetVolume(72);
        QVERIFY(volume->Flush(kSettleMs));
        QCOMPARE(m_server.SinkVolumeRaw(), 47186); // 0.72 × 65536, rounded
        QCOMPARE(volume->GetVolume(), 72u);
        volume->SetMute(true);
        QVERIFY(volume->Flush(kSettleMs));
        QVERIFY(m_server.SinkMuted());
        QCOMPARE(volume->GetMute(), true);
        // A change made by someone else is seen at the next read.
        QVERIFY(
            m_server.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("64%")}));
        volume->GetVolume();
        QVERIFY(volume->Flush(kSettleMs));
        QCOMPARE(volume->GetVolume(), 64u);
    }

    void alarmVolumeIsRestoredExactly_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QStringList>("channels"); // the sink's volume before the alarm, per channel
        QTest::addColumn<bool>("muted");
        const QStringList muted80{QStringLiteral("52429"), QStringLiteral("52429")};
        QTest::newRow("dismissed with OK, 80 % muted comes back muted") << QStringLiteral("stop") << muted80 << true;
        QTest::newRow("the sound ended by itself") << QStringLiteral("end") << muted80 << true;
        QTest::newRow("the play duration ran out") << QStringLiteral("duration") << muted80 << true;
        QTest::newRow("an amplified 120 % comes back as 120 %")
            << QStringLiteral("stop") << QStringList{QStringLiteral("78643"), QStringLiteral("78643")} << false;
        QTest::newRow("the balance between the channels comes back")
            << QStringLiteral("stop") << QStringList{QStringLiteral("78643"), QStringLiteral("52429")} << false;
        QTest::newRow("a volume between two percents comes back unrounded")
            << QStringLiteral("stop") << QStringList{QStringLiteral("52428"), QStringLiteral("52428")} << false;
    }

    void alarmVolumeIsRestoredExactly()
    {
        QFETCH(QString, ending);
        QFETCH(QStringList, channels);
        QFETCH(bool, muted);
        QTemporaryDir files;
        const QString tone = files.filePath(QStringLiteral("tone.wav"));
        QProcess sox;
        sox.start(QStringLiteral("sox"), {QStringLiteral("-n"), tone, QStringLiteral("synth"), QStringLiteral("0.4"),
                                          QStringLiteral("sine"), QStringLiteral("440")});
        QVERIFY(sox.waitForFinished(30000) && sox.exitCode() == 0);

        QVERIFY(m_server.Pactl(QStringList{QStringLiteral("set-sink-volume"), PulseTestServer::SinkName()} + channels));
        QVERIFY(m_server.Pactl({QStringLiteral("set-sink-mute"), PulseTestServer::SinkName(),
                                muted ? QStringLiteral("1") : QStringLiteral("0")}));
        QList<int> before;
        for (const QString& value : channels)
            before << value.toInt();
        QCOMPARE(m_server.SinkVolumeChannels(), before);

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
        QVERIFY(volume->Flush(kSettleMs));
        QCOMPARE(m_server.SinkMuted(), false);
        QCOMPARE(m_server.SinkVolumePercent(), 30);

        if (ending == QStringLiteral("stop"))
            player.StopSound();
        else if (ending == QStringLiteral("duration"))
            player.tmrStopSound.setInterval(100); // the minute, compressed
        // Ended as far as the player is concerned: its end-of-sound watch has seen the end and stopped.
        QTRY_VERIFY_WITH_TIMEOUT(!player.IsPlaying() && !player.tmrCheckActivePlaying.isActive(), 5000);
        QVERIFY(volume->Flush(kSettleMs));
        QCOMPARE(m_server.SinkMuted(), muted);
        QCOMPARE(m_server.SinkVolumeChannels(), before);
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
        QVERIFY(volume->Flush(kSettleMs));
        QCOMPARE(m_server.SinkVolumePercent(), 20);
        QVERIFY(m_server.Pactl({QStringLiteral("set-default-sink"), QStringLiteral("headset")}));
        volume->SetVolume(35);
        QVERIFY(volume->Flush(kSettleMs));
        QCOMPARE(m_server.SinkVolumePercent(QStringLiteral("headset")), 35);
        QCOMPARE(m_server.SinkVolumePercent(), 20);
        QVERIFY(m_server.Pactl({QStringLiteral("set-default-sink"), PulseTestServer::SinkName()}));
        QVERIFY(m_server.Pactl({QStringLiteral("unload-module"), index.trimmed()}));
    }

    void frozenServerDelaysChangesNotTheCaller()
    {
        QVERIFY(
            m_server.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("45%")}));
        QVERIFY(m_server.Pactl({QStringLiteral("set-sink-mute"), PulseTestServer::SinkName(), QStringLiteral("1")}));
        auto volume = SystemVolume();
        QSignalSpy failed(volume.get(), &TVolumeSetForm::failed);
        QSignalSpy recovered(volume.get(), &TVolumeSetForm::recovered);
        QVERIFY(volume->Flush(kSettleMs));
        QVERIFY(volume->UsesEndpoint());
        {
            ScopedFreeze frozen(m_server);
            unsigned read = 0;
            bool mute = false;
            const QList<std::pair<const char*, qint64>> calls{
                {"GetVolume", ElapsedMs([&] { read = volume->GetVolume(); })},
                {"GetMute", ElapsedMs([&] { mute = volume->GetMute(); })},
                {"SaveState", ElapsedMs([&] { volume->SaveState(); })},
                {"SetMute", ElapsedMs([&] { volume->SetMute(false); })},
                {"SetVolume", ElapsedMs([&] { volume->SetVolume(50); })},
                {"VolumeUp", ElapsedMs([&] { volume->VolumeUp(5); })},
                {"RestoreState", ElapsedMs([&] { volume->RestoreState(); })},
            };
            for (const auto& [name, ms] : calls)
                QVERIFY2(ms < kReturnsWithinMs, qPrintable(QStringLiteral("%1 took %2 ms").arg(name).arg(ms)));
            // What was known before the server stopped answering.
            QCOMPARE(read, 45u);
            QCOMPARE(mute, true);
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        }
        // Once the server answers again, the changes queued meanwhile are made, in order.
        QVERIFY(volume->Flush(30000));
        QTRY_COMPARE_WITH_TIMEOUT(recovered.count(), 1, 5000);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(m_server.SinkVolumePercent(), 55);
        QVERIFY(!m_server.SinkMuted());
    }

    void noServerLeavesTheVolumeUnavailable()
    {
        QTemporaryDir nowhere;
        ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(nowhere.path()));
        QElapsedTimer clock;
        clock.start();
        auto volume = SystemVolume();
        QCOMPARE(volume->GetVolume(), 0u);
        QCOMPARE(volume->GetMute(), false);
        QVERIFY2(clock.elapsed() < kReturnsWithinMs, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(volume->Flush(kSettleMs));
        QVERIFY(volume->Ready());
        QVERIFY(!volume->Available());
        QCOMPARE(volume->GetVolume(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestVolume)
#include "tst_volume.moc"
