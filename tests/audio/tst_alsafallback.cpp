// Sound without the sound server: straight to an ALSA device, here one that writes what it gets to a file
// (defined in the .asoundrc of a private HOME), and the fallback from the server's output to it.
#include "PulseTestServer.h"
#include "TestSupport.h"
#include "audio/AudioErrors.h"
#include "audio/FallbackOutput.h"
#include "audio/SoundPlayer.h"
#include "audio/alsa/AlsaOutput.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <cstdlib>

namespace {

const std::string kFileDevice = "larkbelltest";
constexpr int kRate = 44100;

bool MakeTone(const QString& path, double seconds)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QString::number(kRate), QStringLiteral("-c"),
               QStringLiteral("1"), path, QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"),
               QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")});
    return sox.waitForFinished(30000) && sox.exitStatus() == QProcess::NormalExit && sox.exitCode() == 0;
}

/** 16-bit samples of the device's file that are louder than about -30 dBFS. */
qint64 LoudSamples(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    const auto* samples = reinterpret_cast<const std::int16_t*>(bytes.constData());
    qint64 loud = 0;
    for (qsizetype i = 0; i < bytes.size() / 2; ++i)
        loud += std::abs(int(samples[i])) > 1000 ? 1 : 0;
    return loud;
}

} // namespace

class TestAlsaFallback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_out = m_home.filePath(QStringLiteral("out.raw"));
        WriteFileBytes(
            m_home.filePath(QStringLiteral(".asoundrc")),
            QStringLiteral("pcm.%1 {\n  type file\n  slave.pcm \"null\"\n  file \"%2\"\n  format \"raw\"\n}\n")
                .arg(QString::fromStdString(kFileDevice), m_out)
                .toUtf8());
        qputenv("HOME", m_home.path().toUtf8());
        m_tone = m_home.filePath(QStringLiteral("tone.wav"));
        QVERIFY2(MakeTone(m_tone, 1.0), "sox could not write the test tone");
        m_shortTone = m_home.filePath(QStringLiteral("short.wav"));
        QVERIFY(MakeTone(m_shortTone, 0.3));
        // No server to be found, and none started for us: the fallback's case.
        QVERIFY(m_noServer.isValid());
        qputenv("PULSE_SERVER",
                QFile::encodeName(QStringLiteral("unix:") + m_noServer.filePath(QStringLiteral("none"))));
    }

    void init() { QFile::remove(m_out); }

    void devicesComeFromTheEnvironment()
    {
        {
            ScopedEnv device("LARKBELL_ALSA_DEVICE", "plughw:CARD=Test,DEV=0");
            QCOMPARE(AlsaDeviceNames(), std::vector<std::string>{"plughw:CARD=Test,DEV=0"});
        }
        ScopedEnv none("LARKBELL_ALSA_DEVICE", QByteArray());
        QCOMPARE(AlsaDeviceNames(), (std::vector<std::string>{"default", "plughw:0", "hw:0"}));
    }

    void aSoundIsWrittenToTheDeviceToItsEnd()
    {
        auto output = CreateAlsaOutput({kFileDevice});
        QCOMPARE(PlaySoundFile(*output, m_tone.toStdString(), false), 0);
        QVERIFY(output->IsActive());
        QTRY_VERIFY_WITH_TIMEOUT(output->HasStarted(), 5000);
        // Paced as a card would take it: about a second for a second of sound, not at once.
        QTRY_VERIFY_WITH_TIMEOUT(!output->IsActive(), 10000);
        QCOMPARE(output->LastError(), 0);
        const qint64 frames = QFileInfo(m_out).size() / 2;
        QVERIFY2(std::abs(frames - kRate) < kRate / 10, qPrintable(QString::number(frames)));
        QVERIFY2(LoudSamples(m_out) > kRate * 8 / 10, qPrintable(QString::number(LoudSamples(m_out))));
    }

    void aLoopGoesOnUntilStopped()
    {
        auto output = CreateAlsaOutput({kFileDevice});
        QCOMPARE(PlaySoundFile(*output, m_shortTone.toStdString(), true), 0);
        // Three times the file's length has been played, and it still plays.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(m_out).size() / 2 > kRate * 9 / 10, 10000);
        QVERIFY(output->IsActive());
        QVERIFY(ElapsedMs([&] { output->Stop(); }) < kReturnsWithinMs);
        QVERIFY(!output->IsActive());
        QCOMPARE(output->LastError(), 0);
        // The device is given back: the next sound opens it again.
        QCOMPARE(PlaySoundFile(*output, m_shortTone.toStdString(), false), 0);
        QTRY_VERIFY_WITH_TIMEOUT(output->HasStarted(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!output->IsActive(), 10000);
        QCOMPARE(output->LastError(), 0);
    }

    void aDeviceThatDoesNotOpenIsAnError()
    {
        auto output = CreateAlsaOutput({"larkbell_no_such_device"});
        QCOMPARE(PlaySoundFile(*output, m_tone.toStdString(), true), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!output->IsActive(), 5000);
        QVERIFY(!output->HasStarted());
        QCOMPARE(output->LastError(), int(AudioError::DeviceOpenFailed));
    }

    void anAlarmRingsOnTheDeviceWithoutAServer()
    {
        QList<int> failures;
        SoundPlayer player(WithFallback(CreateSoundOutput(), CreateAlsaOutput({kFileDevice})), nullptr, QString(),
                           hooks(failures));
        player.PlaySound(m_shortTone, true, true, false, SoundPlayer::Fallback::BuiltInSound);
        QTRY_VERIFY_WITH_TIMEOUT(LoudSamples(m_out) > kRate / 2, 10000);
        QVERIFY(player.IsPlaying());
        QCOMPARE(player.CurrentFile(), m_shortTone);
        QVERIFY(failures.isEmpty());
        player.StopSound();
        QVERIFY(!player.IsPlaying());
    }

    void aLineIsToldWhenNothingCanPlay()
    {
        QList<int> failures;
        SoundPlayer player(WithFallback(CreateSoundOutput(), CreateAlsaOutput({"larkbell_no_such_device"})), nullptr,
                           QString(), hooks(failures));
        player.PlaySound(m_shortTone, true, true, false, SoundPlayer::Fallback::BuiltInSound);
        QTRY_COMPARE_WITH_TIMEOUT(failures, QList<int>{AudioError::DeviceOpenFailed}, 10000);
        QVERIFY(!player.IsPlaying());
        // The editor's preview is no alarm: it warns as before, and the ringing window is not told.
        failures.clear();
        player.PlaySound(m_shortTone, false, false, true);
        QTRY_VERIFY_WITH_TIMEOUT(!player.IsPlaying() && !player.tmrCheckActivePlaying.isActive(), 10000);
        QVERIFY(failures.isEmpty());
        QVERIFY(!m_warnings.isEmpty());
    }

    void aServerThatDiesWhilePlayingHandsOverToTheDevice()
    {
        PulseTestServer server;
        QString why;
        ScopedEnv pulse("PULSE_SERVER", QByteArray());
        qunsetenv("PULSE_SERVER");
        QVERIFY2(server.Start(&why), qPrintable(why));
        QList<int> failures;
        SoundPlayer player(WithFallback(CreateSoundOutput(), CreateAlsaOutput({kFileDevice})), nullptr, QString(),
                           hooks(failures));
        player.PlaySound(m_shortTone, true, true, false, SoundPlayer::Fallback::BuiltInSound);
        QTRY_VERIFY_WITH_TIMEOUT(server.FindSinkInput(QStringLiteral("Larkbell")).has_value(), 10000);
        QVERIFY(!QFile::exists(m_out));
        server.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(LoudSamples(m_out) > kRate / 2, 10000);
        QVERIFY(player.IsPlaying());
        QVERIFY(failures.isEmpty());
        player.StopSound();
    }

private:
    SoundPlayerHooks hooks(QList<int>& failures)
    {
        SoundPlayerHooks h;
        h.alarmSoundFailed = [&failures](int error) { failures.append(error); };
        h.showWarning = [this](const QString& text) { m_warnings.append(text); };
        return h;
    }

    QTemporaryDir m_home;
    QTemporaryDir m_noServer;
    QString m_out;
    QString m_tone;
    QString m_shortTone;
    QStringList m_warnings;
};

QTEST_GUILESS_MAIN(TestAlsaFallback)
#include "tst_alsafallback.moc"
