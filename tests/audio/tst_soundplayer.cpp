#include "PulseTestServer.h"
#include "TestSupport.h"
#include "audio/AudioErrors.h"
#include "audio/SoundPlayer.h"
#include "audio/VolumeSetForm.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

namespace {

// How long a started sound may take to reach the sink's monitor. Usually well under a second, but
// on a loaded two-core machine running the whole suite the sound server has been seen to take more.
constexpr int kHeardWithinMs = 10000;

// What the player told the windows.
struct Calls {
    QStringList warnings;
    int dismissals = 0;
    QList<bool> previewStates;
    QStringList openedDocuments;
    qint64 previewEndedMs = -1; // on the clock passed to Record, when the preview state went to false
};

// Writes a sine tone with sox, an encoder independent of the decoder under test; false (with why) when it could not.
bool MakeTone(const QString& path, double seconds, int frequency = 440, QString* why = nullptr)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
               QStringLiteral("1"), path, QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"),
               QString::number(frequency), QStringLiteral("vol"), QStringLiteral("0.5")});
    if (sox.waitForFinished(30000) && sox.exitStatus() == QProcess::NormalExit && sox.exitCode() == 0)
        return true;
    if (why)
        *why = QStringLiteral("sox could not write %1: %2")
                   .arg(path, QString::fromLocal8Bit(sox.readAllStandardError()) + sox.errorString());
    return false;
}

// Nothing plays, and the player's end-of-sound watch has seen the end and handled it.
bool Ended(const SoundPlayer& player)
{
    return !player.IsPlaying() && !player.tmrCheckActivePlaying.isActive();
}

// The folder of the stock sounds shipped with the program, given to this test by the build.
QString ShippedSoundsFolder()
{
    return qEnvironmentVariable("LARKBELL_SOUNDS_DIR");
}

} // namespace

class TestSoundPlayer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SoundPlayer> MakePlayer(Calls& calls, const QElapsedTimer* clock = nullptr,
                                            TVolumeSetForm* volume = nullptr)
    {
        SoundPlayerHooks hooks;
        hooks.showWarning = [&calls](const QString& text) { calls.warnings << text; };
        hooks.dismissAlarmIfHidden = [&calls] { ++calls.dismissals; };
        hooks.previewStateChanged = [&calls, clock](bool playing) {
            calls.previewStates << playing;
            if (!playing && clock && calls.previewEndedMs < 0)
                calls.previewEndedMs = clock->elapsed();
        };
        hooks.openDocument = [&calls](const QString& path) {
            calls.openedDocuments << path;
            return true;
        };
        return std::make_unique<SoundPlayer>(CreateSoundOutput(), volume, m_sounds, std::move(hooks));
    }

    QString File(const QString& name) const { return m_files.filePath(name); }

    void StartServer()
    {
        QString why;
        QVERIFY2(m_server.Start(&why), qPrintable(why));
        QVERIFY(m_server.StartKeepAlive());
        QVERIFY(m_monitor.Start());
    }

    static constexpr double kBlipSeconds = 0.3; // the looping test files

    PulseTestServer m_server;
    SinkMonitor m_monitor;
    QTemporaryDir m_files;
    QString m_sounds; // a sounds folder with the stock names the tests use

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        QVERIFY(QDir(m_files.path()).mkpath(QStringLiteral("Sounds")));
        m_sounds = File(QStringLiteral("Sounds/"));
        struct Tone {
            QString path;
            double seconds;
            int frequency;
        };
        QList<Tone> tones;
        for (const char* ext : {"wav", "aif", "aiff", "aifc", "flac", "ogg", "mp3"})
            tones.append({File(QStringLiteral("tone.") + QLatin1String(ext)), 1.0, 440});
        tones.append({File(QStringLiteral("SHOUTED.MP3")), 1.0, 440});
        tones.append({File(QStringLiteral("short.wav")), 0.5, 440});
        for (const char* ext : {"wav", "mp3", "ogg", "flac", "aiff"})
            tones.append({File(QStringLiteral("blip.") + QLatin1String(ext)), kBlipSeconds, 440});
        tones.append({m_sounds + QStringLiteral("Birds.mp3"), 1.0, 2000});
        tones.append({m_sounds + QStringLiteral("Bells1.mp3"), 3.0, 660});
        for (const Tone& tone : tones) {
            QString why;
            QVERIFY2(MakeTone(tone.path, tone.seconds, tone.frequency, &why), qPrintable(why));
        }
        StartServer();
    }

    void cleanupTestCase()
    {
        m_monitor.Stop();
        m_server.Stop();
    }

    void init() { m_monitor.Reset(); }

    void eachFormatReachesTheSink_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a WAV file is heard") << "tone.wav";
        QTest::newRow("an AIF file is heard") << "tone.aif";
        QTest::newRow("an AIFF file is heard") << "tone.aiff";
        QTest::newRow("an AIFF-C file is heard") << "tone.aifc";
        QTest::newRow("a FLAC file is heard") << "tone.flac";
        QTest::newRow("an Ogg Vorbis file is heard") << "tone.ogg";
        QTest::newRow("an MP3 file is heard") << "tone.mp3";
        QTest::newRow("an MP3 file with a capital extension is heard, not opened") << "SHOUTED.MP3";
    }

    void eachFormatReachesTheSink()
    {
        QFETCH(QString, name);
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(File(name), false, true, true);
        QCOMPARE(calls.warnings, QStringList());
        QCOMPARE(calls.openedDocuments, QStringList());
        QVERIFY(player->IsPlaying());
        QCOMPARE(calls.previewStates, QList<bool>{true});
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        player->StopSound();
        QVERIFY(!player->IsPlaying());
        QCOMPARE(calls.previewStates, (QList<bool>{true, false}));
    }

    void aPreparedSoundWaitsSilentAndIsStartedByItsAlarm()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        QVERIFY(m_monitor.WaitForQuiet(300, 5000)); // what an earlier test played has died away
        m_monitor.Reset();
        player->PrepareSound(File(QStringLiteral("tone.wav")), false);
        QCOMPARE(player->PreparedFile(), File(QStringLiteral("tone.wav")));
        QVERIFY(!player->IsPlaying());
        QCOMPARE(m_monitor.WaitForSound(400), qint64(-1)); // paused at the server: nothing is heard

        player->PlaySound(File(QStringLiteral("tone.wav")), false, true, false);
        QVERIFY(player->IsPlaying());
        QCOMPARE(player->CurrentFile(), File(QStringLiteral("tone.wav")));
        QCOMPARE(player->PreparedFile(), QString());
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);

        // Once it stops, the next alarm's sound waits prepared again.
        player->StopSound();
        QTRY_COMPARE(player->PreparedFile(), File(QStringLiteral("tone.wav")));
        QCOMPARE(calls.warnings, QStringList());
    }

    void anotherSoundIsPlayedInsteadOfThePreparedOne()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PrepareSound(File(QStringLiteral("tone.wav")), false);
        QVERIFY(!player->PreparedFile().isEmpty());
        player->PlaySound(File(QStringLiteral("tone.flac")), false, true, false);
        QCOMPARE(player->CurrentFile(), File(QStringLiteral("tone.flac")));
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        player->StopSound();
        // The loop switch belongs to the preparation: the same file looping is another sound.
        QTRY_VERIFY(!player->PreparedFile().isEmpty());
        player->PlaySound(File(QStringLiteral("tone.wav")), true, true, false);
        QVERIFY(player->IsPlaying());
        QCOMPARE(player->PreparedFile(), QString());
        player->StopSound();
    }

    void aFolderIsPickedFromWhenItIsPrepared()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        QTemporaryDir folder;
        for (const char* name : {"a.wav", "b.flac", "notes.txt"})
            QVERIFY(QFile::copy(File(QStringLiteral("tone.wav")), folder.filePath(QString::fromLatin1(name))));
        player->PrepareSound(folder.path(), true);
        const QString picked = player->PreparedFile();
        QVERIFY2(picked.endsWith(QStringLiteral("/a.wav")) || picked.endsWith(QStringLiteral("/b.flac")),
                 qPrintable(picked));
        player->PlaySound(folder.path(), true, true, false);
        QCOMPARE(player->CurrentFile(), picked);
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        player->StopSound();
    }

    void programsAndAddressesAreNotPrepared()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PrepareSound(QStringLiteral("https://example.org/alarm.mp3"), false);
        QCOMPARE(player->PreparedFile(), QString());
        player->PrepareSound(File(QStringLiteral("missing.wav")), false);
        QCOMPARE(player->PreparedFile(), QString());
        player->PrepareSound(QString(), false);
        QCOMPARE(player->PreparedFile(), QString());
        QVERIFY(!player->IsPlaying());
    }

    void stockNameResolvesIntoTheSoundsFolder()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(QStringLiteral("Birds"), true, true, true);
        QCOMPARE(calls.warnings, QStringList());
        QCOMPARE(player->CurrentFile(), m_sounds + QStringLiteral("Birds.mp3"));
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
    }

    void loopingSoundKeepsPlayingPastItsEnd_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a looping WAV file starts over") << "blip.wav";
        QTest::newRow("a looping MP3 file starts over") << "blip.mp3";
        QTest::newRow("a looping Ogg Vorbis file starts over") << "blip.ogg";
        QTest::newRow("a looping FLAC file starts over") << "blip.flac";
        QTest::newRow("a looping AIFF file starts over") << "blip.aiff";
    }

    void loopingSoundKeepsPlayingPastItsEnd()
    {
        QFETCH(QString, name);
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(File(name), true, false, true);
        const qint64 first = m_monitor.WaitForSound(kHeardWithinMs);
        QVERIFY(first >= 0);
        // Sound still arriving at two and a half times the file's length: it started over, more than once.
        const qint64 span = qint64(kBlipSeconds * 2500);
        QTRY_VERIFY2_WITH_TIMEOUT(
            m_monitor.LastLoudMs() - first >= span,
            qPrintable(QStringLiteral("sound heard from %1 ms to %2 ms only").arg(first).arg(m_monitor.LastLoudMs())),
            5000);
        QVERIFY(player->IsPlaying());
        QCOMPARE(calls.previewStates, QList<bool>{true});
        player->StopSound();
        QVERIFY(m_monitor.WaitForQuiet(300, 3000));
    }

    void soundEndsByItselfAndIsNoticedPromptly()
    {
        Calls calls;
        QElapsedTimer clock;
        auto player = MakePlayer(calls, &clock);
        m_monitor.Reset();
        clock.start();
        player->PlaySound(File(QStringLiteral("short.wav")), false, false, true);
        QVERIFY(player->IsPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(calls.previewEndedMs >= 0, 5000);
        QVERIFY(m_monitor.WaitForQuiet(300, 3000));
        const qint64 lastHeard = m_monitor.LastLoudMs();
        QVERIFY(lastHeard >= 0);
        QVERIFY2(
            calls.previewEndedMs - lastHeard <= 200,
            qPrintable(
                QStringLiteral("last sound at %1 ms, end noticed at %2 ms").arg(lastHeard).arg(calls.previewEndedMs)));
        QVERIFY2(calls.previewEndedMs >= 500 - 20, qPrintable(QString::number(calls.previewEndedMs)));
        QCOMPARE(calls.dismissals, 1);
        QVERIFY(!player->IsPlaying());
        QVERIFY(!player->tmrCheckActivePlaying.isActive());
    }

    void failuresWarnWithTheirTexts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("warning");
        const QString missing = QStringLiteral("/nonexistent/Larkbell/wake up.mp3");
        QTest::newRow("a missing file is not found") << missing << QStringLiteral("File %1 is not found!").arg(missing);
        const auto channel = [](int code, const QString& path) {
            return QStringLiteral("Sound channel has not been initialized! Error code: %1. File: %2")
                .arg(code)
                .arg(path);
        };
        const QString broken = TestDataPath(QStringLiteral("audio/BrokenHeader.wav"));
        QTest::newRow("a WAV file with a broken header cannot make a channel")
            << broken << channel(AudioError::FileMalformed, broken);
        const QString text = TestDataPath(QStringLiteral("audio/NotAudio.mp3"));
        QTest::newRow("a text file named like an MP3 is reported damaged")
            << text << channel(AudioError::FileMalformed, text);
        const QString cut = TestDataPath(QStringLiteral("audio/CutShort.flac"));
        QTest::newRow("a FLAC file cut short is reported damaged") << cut << channel(AudioError::FileMalformed, cut);
        const QString wma = TestDataPath(QStringLiteral("audio/Unplayable.wma"));
        QTest::newRow("a WMA file cannot be decoded") << wma << channel(AudioError::FormatNotRecognised, wma);
    }

    void failuresWarnWithTheirTexts()
    {
        QFETCH(QString, path);
        QFETCH(QString, warning);
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(path, false, true, true);
        QCOMPARE(calls.warnings, QStringList{warning});
        QVERIFY(!player->IsPlaying());
        QCOMPARE(calls.previewStates, QList<bool>());
    }

    void warningsAreShownOnlyWhenAsked()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(QStringLiteral("/nonexistent/Larkbell/wake up.mp3"), false, true, false);
        player->PlaySound(TestDataPath(QStringLiteral("audio/BrokenHeader.wav")), false, true, false);
        QCOMPARE(calls.warnings, QStringList());
        QCOMPARE(player->LastError(), int(AudioError::FileMalformed));
    }

    void emptySoundDismissesAHiddenAlarmAndWarns()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(QString(), true, true, true, SoundPlayer::Fallback::BuiltInSound);
        QCOMPARE(calls.dismissals, 1);
        QCOMPARE(calls.warnings, QStringList{QStringLiteral("File  is not found!")});
        QVERIFY(!player->IsPlaying());
        QVERIFY(player->CurrentFile().isEmpty());
        QVERIFY(m_monitor.WaitForQuiet(500, 3000));
        QCOMPARE(m_monitor.LoudSamples(), 0);
    }

    void folderPlaysOneOfItsAudioFiles()
    {
        const QString folder = File(QStringLiteral("mixed"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/inner")));
        QVERIFY(QFile::copy(File(QStringLiteral("tone.wav")), folder + QStringLiteral("/a.wav")));
        QVERIFY(QFile::copy(File(QStringLiteral("tone.mp3")), folder + QStringLiteral("/b.mp3")));
        QVERIFY(QFile::copy(File(QStringLiteral("tone.ogg")), folder + QStringLiteral("/c.oga")));
        QVERIFY(QFile::copy(File(QStringLiteral("tone.wav")), folder + QStringLiteral("/inner/d.wav")));
        WriteFileBytes(folder + QStringLiteral("/readme.txt"), "not a sound");

        Calls calls;
        auto player = MakePlayer(calls);
        QSet<QString> picked;
        for (int i = 0; i < 40; ++i) {
            player->PlaySound(folder, false, true, true);
            picked << QFileInfo(player->CurrentFile()).fileName();
        }
        QCOMPARE(calls.warnings, QStringList());
        QCOMPARE(picked, (QSet<QString>{QStringLiteral("a.wav"), QStringLiteral("b.mp3"), QStringLiteral("c.oga")}));
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        player->StopSound();
    }

    void emptyFolderIsOpenedOrReported()
    {
        const QString folder = File(QStringLiteral("empty"));
        QVERIFY(QDir().mkpath(folder));
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(folder, false, true, true);
        QCOMPARE(calls.openedDocuments, QStringList{folder});
        QCOMPARE(calls.warnings, QStringList());
        player->PlaySound(folder, false, false, true);
        QCOMPARE(calls.warnings, QStringList{QStringLiteral("File %1 is not found!").arg(folder)});
        QVERIFY(!player->IsPlaying());
    }

    void programIsStartedNotPlayed()
    {
        const QString script = File(QStringLiteral("wake-up.sh"));
        const QString marker = File(QStringLiteral("wake-up.marker"));
        WriteFileBytes(script, QByteArray("#!/bin/sh\necho started > '") + QFile::encodeName(marker) + "'\n");
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(script, true, true, true);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 5000);
        QCOMPARE(ReadFileBytes(marker), QByteArray("started\n"));
        QVERIFY(!player->IsPlaying());
        QCOMPARE(calls.warnings, QStringList());
        QCOMPARE(calls.openedDocuments, QStringList());
    }

    void documentIsOpenedThroughTheDesktop()
    {
        const QString document = File(QStringLiteral("notes.txt"));
        WriteFileBytes(document, "get up");
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(document, true, true, true);
        QCOMPARE(calls.openedDocuments, QStringList{document});
        QVERIFY(!player->IsPlaying());
    }

    void webAddressIsOpenedNotReplacedAtAlarmTime()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        const QString address = QStringLiteral("https://radio.example/morning");
        player->PlaySound(address, true, true, false, SoundPlayer::Fallback::BuiltInSound);
        QCOMPARE(calls.openedDocuments, QStringList{address});
        QVERIFY(!player->IsPlaying());
    }

    void alarmFallsBackToTheBuiltInSound_data()
    {
        QTest::addColumn<QString>("sound");
        QTest::newRow("a moved file rings the built-in sound") << QStringLiteral("/nonexistent/Larkbell/song.mp3");
        QTest::newRow("a missing stock sound rings the built-in sound") << QStringLiteral("NoSuchStockSound");
        QTest::newRow("a damaged file rings the built-in sound")
            << TestDataPath(QStringLiteral("audio/BrokenHeader.wav"));
        QTest::newRow("a WMA file rings the built-in sound") << TestDataPath(QStringLiteral("audio/Unplayable.wma"));
        QTest::newRow("an emptied folder rings the built-in sound") << File(QStringLiteral("empty"));
    }

    void alarmFallsBackToTheBuiltInSound()
    {
        QFETCH(QString, sound);
        QVERIFY(QDir().mkpath(File(QStringLiteral("empty"))));
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(sound, true, true, false, SoundPlayer::Fallback::BuiltInSound);
        QCOMPARE(player->CurrentFile(), m_sounds + SoundPlayer::FallbackSoundName() + QStringLiteral(".mp3"));
        QVERIFY(player->IsPlaying());
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        QCOMPARE(calls.warnings, QStringList());
        QCOMPARE(calls.openedDocuments, QStringList());
        player->StopSound();
    }

    void previewDoesNotFallBack()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(QStringLiteral("/nonexistent/Larkbell/song.mp3"), false, false, false);
        QVERIFY(!player->IsPlaying());
        QVERIFY(player->CurrentFile().isEmpty());
    }

    void playDurationArmsTheStopTimer_data()
    {
        QTest::addColumn<int>("duration");
        QTest::addColumn<int>("minutes");
        QTest::newRow("until the message is closed") << 0 << 0;
        QTest::newRow("one minute") << 1 << 1;
        QTest::newRow("five minutes") << 2 << 5;
        QTest::newRow("ten minutes") << 3 << 10;
        QTest::newRow("thirty minutes") << 4 << 30;
        QTest::newRow("one hour") << 5 << 60;
        QTest::newRow("an unknown stored value counts as until closed") << 9 << 0;
    }

    void playDurationArmsTheStopTimer()
    {
        QFETCH(int, duration);
        QFETCH(int, minutes);
        Calls calls;
        auto player = MakePlayer(calls);
        player->SetPlayDuration(duration);
        player->StartStopSoundTimer();
        QCOMPARE(player->tmrStopSound.isActive(), minutes > 0);
        if (minutes > 0)
            QCOMPARE(player->tmrStopSound.interval(), minutes * 60000);
    }

    void stopTimerStopsTheSound()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->SetPlayDuration(1);
        player->PlaySound(File(QStringLiteral("blip.wav")), true, false, true);
        player->StartStopSoundTimer();
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        player->tmrStopSound.setInterval(200); // a minute compressed; the tick is the same
        QTRY_VERIFY_WITH_TIMEOUT(!player->IsPlaying(), 3000);
        QCOMPARE(calls.previewStates, (QList<bool>{true, false}));
        QVERIFY(!player->tmrStopSound.isActive());
        QVERIFY(!player->tmrCheckActivePlaying.isActive());
        QVERIFY(m_monitor.WaitForQuiet(300, 3000));
    }

    void newSoundReplacesThePlayingOne()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(File(QStringLiteral("tone.wav")), true, false, true);
        player->PlaySound(File(QStringLiteral("tone.ogg")), true, false, true);
        QCOMPARE(player->CurrentFile(), File(QStringLiteral("tone.ogg")));
        QVERIFY(player->IsPlaying());
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
    }

    void builtInSoundsIncludeTheStockNames()
    {
        if (ShippedSoundsFolder().isEmpty())
            QFAIL("LARKBELL_SOUNDS_DIR is not set: the test needs the folder of the shipped sounds");
        const QDir dir(ShippedSoundsFolder());
        QVERIFY2(dir.entryList({QStringLiteral("*.mp3")}, QDir::Files).size() >= 6, qPrintable(dir.path()));
        for (const QString& required :
             {QStringLiteral("Birds.mp3"), QStringLiteral("Bells1.mp3"), QStringLiteral("Christmas.mp3")})
            QVERIFY2(dir.exists(required), qPrintable(required));
    }

    void builtInSoundsAreComplete_data()
    {
        QTest::addColumn<QString>("path");
        const QDir dir(ShippedSoundsFolder());
        const QStringList names = ShippedSoundsFolder().isEmpty()
                                      ? QStringList()
                                      : dir.entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name);
        for (const QString& name : names)
            QTest::newRow(qPrintable(name + QStringLiteral(" lasts 15 to 40 seconds and is not quiet")))
                << dir.filePath(name);
        // A test without rows would not run at all, and a missing folder would pass unnoticed.
        if (names.isEmpty())
            QTest::newRow("the shipped sounds folder has sounds") << QString();
    }

    void builtInSoundsAreComplete()
    {
        QFETCH(QString, path);
        if (path.isEmpty())
            QFAIL(qPrintable(QStringLiteral("no sounds in LARKBELL_SOUNDS_DIR (\"%1\")").arg(ShippedSoundsFolder())));
        DecoderResult opened = OpenSoundFile(QFile::encodeName(path).toStdString());
        QVERIFY(opened.decoder);
        const SoundFormat format = opened.decoder->Format();
        std::vector<float> buffer(4096 * static_cast<std::size_t>(format.channels));
        std::int64_t frames = 0;
        double energy = 0;
        float peak = 0;
        while (const std::int64_t got = opened.decoder->Read(buffer.data(), 4096)) {
            for (std::int64_t i = 0; i < got * format.channels; ++i) {
                energy += double(buffer[std::size_t(i)]) * buffer[std::size_t(i)];
                peak = std::max(peak, std::abs(buffer[std::size_t(i)]));
            }
            frames += got;
        }
        const double seconds = double(frames) / format.sampleRate;
        QVERIFY2(seconds >= 15 && seconds <= 40, qPrintable(QString::number(seconds)));
        const double rmsDb = 10 * std::log10(energy / double(frames * format.channels));
        QVERIFY2(rmsDb > -30 && rmsDb < -8, qPrintable(QString::number(rmsDb)));
        QVERIFY2(peak <= 1.0f, qPrintable(QString::number(peak)));
    }

    void silentLeadInIsSkippedWhenShort_data()
    {
        QTest::addColumn<QString>("pad");
        QTest::addColumn<bool>("skipped");
        QTest::newRow("a third of a second of silence is not waited for") << QStringLiteral("0.3") << true;
        QTest::newRow("two seconds of silence are part of the sound") << QStringLiteral("2") << false;
    }

    void silentLeadInIsSkippedWhenShort()
    {
        QFETCH(QString, pad);
        QFETCH(bool, skipped);
        const QString path = File(QStringLiteral("late-") + pad + QStringLiteral(".wav"));
        QProcess sox;
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                   QStringLiteral("1"), path, QStringLiteral("synth"), QStringLiteral("1"), QStringLiteral("sine"),
                   QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5"), QStringLiteral("pad"), pad,
                   QStringLiteral("0")});
        QVERIFY(sox.waitForFinished(30000) && sox.exitCode() == 0);
        DecoderResult opened = OpenSoundFile(QFile::encodeName(path).toStdString());
        QVERIFY(opened.decoder);
        const auto audibleIn = [](const std::vector<float>& samples, std::int64_t count) {
            return std::any_of(samples.begin(), samples.begin() + count, [](float x) { return std::abs(x) > 0.01f; });
        };
        std::vector<float> buffer(4096);
        const std::int64_t first = opened.decoder->Read(buffer.data(), 4096);
        QVERIFY(first > 0);
        QCOMPARE(audibleIn(buffer, std::min<std::int64_t>(first, 10)), skipped);
        // A looping sound starts over from the file's very first frame, pause and all.
        QVERIFY(opened.decoder->Rewind());
        QCOMPARE(opened.decoder->Read(buffer.data(), 4096), std::int64_t(4096));
        QVERIFY(!audibleIn(buffer, 4096));
    }

    void streamLevelRememberedByTheServerDoesNotSilenceTheAlarm_data()
    {
        QTest::addColumn<bool>("muted");
        QTest::addColumn<QString>("level");
        QTest::newRow("a stream once muted in a mixer is heard") << true << QStringLiteral("100%");
        QTest::newRow("a stream once turned down to 10 % in a mixer is heard at full level")
            << false << QStringLiteral("10%");
    }

    void streamLevelRememberedByTheServerDoesNotSilenceTheAlarm()
    {
        QFETCH(bool, muted);
        QFETCH(QString, level);
        // The module that makes a server give a program's new streams the mute and level its last one had.
        QString module;
        QVERIFY(m_server.Pactl({QStringLiteral("load-module"), QStringLiteral("module-stream-restore")}, &module));
        const auto unload = qScopeGuard([this, module] {
            m_server.Pactl({QStringLiteral("unload-module"), module.trimmed()});
        });

        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(File(QStringLiteral("tone.wav")), true, false, true);
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        std::optional<PulseTestServer::SinkInput> stream;
        QTRY_VERIFY_WITH_TIMEOUT((stream = m_server.FindSinkInput(QStringLiteral("Larkbell"))).has_value(), 3000);
        // What a user does in a mixer application, which the server then remembers for this program.
        const QString index = QString::number(stream->index);
        QVERIFY(m_server.Pactl(
            {QStringLiteral("set-sink-input-mute"), index, muted ? QStringLiteral("1") : QStringLiteral("0")}));
        QVERIFY(m_server.Pactl({QStringLiteral("set-sink-input-volume"), index, level}));
        m_monitor.Reset();
        QVERIFY2(m_monitor.WaitForQuiet(300, 3000), "the mixer's change did not quieten the stream");
        player->StopSound();

        m_monitor.Reset();
        player->PlaySound(File(QStringLiteral("tone.wav")), true, false, true);
        QVERIFY2(m_monitor.WaitForSound(kHeardWithinMs) >= 0, "the next alarm's sound did not reach the sink");
        QTRY_VERIFY_WITH_TIMEOUT((stream = m_server.FindSinkInput(QStringLiteral("Larkbell"))).has_value(), 3000);
        QCOMPARE(stream->muted, false);
        QCOMPARE(stream->channels, QList<int>(stream->channels.size(), 65536));
        player->StopSound();
        QCOMPARE(calls.warnings, QStringList());
    }

    // The server tests change the server, so they come last.

    void noServerGivesAClearCodeQuickly()
    {
        QTemporaryDir nowhere;
        ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(nowhere.path()));
        Calls calls;
        auto player = MakePlayer(calls);
        QElapsedTimer clock;
        clock.start();
        player->InitAudio();
        player->PlaySound(File(QStringLiteral("tone.wav")), true, false, true);
        QVERIFY2(clock.elapsed() < kReturnsWithinMs, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(
            calls.warnings,
            (QStringList{QStringLiteral("The output sound device has not been initialized. Error code: 202"),
                         QStringLiteral("Sound channel has not been initialized! Error code: 202. File: ") +
                             File(QStringLiteral("tone.wav"))}),
            3000);
        QVERIFY(!player->IsPlaying());
        QCOMPARE(player->LastError(), int(AudioError::ServerNotFound));
        QVERIFY(player->CurrentFile().isEmpty());
    }

    void frozenServerDoesNotHang()
    {
        Calls calls;
        auto connected = MakePlayer(calls);
        connected->InitAudio();
        // Connected once a sound has been heard.
        connected->PlaySound(File(QStringLiteral("short.wav")), false, false, true);
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Ended(*connected), 3000);
        QCOMPARE(calls.warnings, QStringList());
        std::unique_ptr<SoundPlayer> fresh;
        {
            ScopedFreeze frozen(m_server);
            const qint64 playMs =
                ElapsedMs([&] { connected->PlaySound(File(QStringLiteral("tone.wav")), true, false, true); });
            const qint64 initMs = ElapsedMs([&] {
                fresh = MakePlayer(calls);
                fresh->InitAudio();
            });
            QVERIFY2(playMs < kReturnsWithinMs, qPrintable(QString::number(playMs)));
            QVERIFY2(initMs < kReturnsWithinMs, qPrintable(QString::number(initMs)));
            // The sound counts as starting until the server has had its time to answer.
            QVERIFY(connected->IsPlaying());
            QTRY_COMPARE_WITH_TIMEOUT(calls.warnings.size(), 2, 6000);
            QTRY_VERIFY_WITH_TIMEOUT(Ended(*connected), 1000);
        }
        // Both players gave the server the same time, so either may have told first.
        QStringList warnings = calls.warnings;
        warnings.sort();
        QCOMPARE(warnings,
                 (QStringList{QStringLiteral("Cannot play sound! Error code: 303. File: ") +
                                  File(QStringLiteral("tone.wav")),
                              QStringLiteral("The output sound device has not been initialized. Error code: 203")}));
        QVERIFY(!connected->IsPlaying());
        QCOMPARE(connected->LastError(), int(AudioError::StreamTimeout));
        QCOMPARE(calls.previewStates, (QList<bool>{true, false, true, false}));
        QCOMPARE(calls.dismissals, 1); // the short sound's end; a sound that never started dismisses nothing

        // The sound given up on does not start by itself once the server answers again.
        m_monitor.Reset();
        QVERIFY(m_monitor.WaitForQuiet(1000, 5000));
        QCOMPARE(m_monitor.LoudSamples(), 0);
        // And the next one plays.
        connected->PlaySound(File(QStringLiteral("tone.wav")), true, false, true);
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        connected->StopSound();
    }

    void alarmWithAFrozenServerNeverHoldsTheCaller()
    {
        // Made first, so it runs last: whatever the volume object still sets on its way out, later tests
        // find the sink loud enough for the monitor again.
        const auto fullSink = qScopeGuard([this] {
            m_server.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("100%")});
        });
        TVolumeSetForm volume(CreateSystemVolumeEndpoint(), nullptr);
        QVERIFY(volume.Flush(5000));
        QVERIFY(volume.UsesEndpoint());
        QVERIFY(m_server.Pactl({QStringLiteral("set-sink-mute"), PulseTestServer::SinkName(), QStringLiteral("0")}));
        QVERIFY(
            m_server.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("100%")}));
        QSignalSpy volumeFailed(&volume, &TVolumeSetForm::failed);
        Calls calls;
        auto player = MakePlayer(calls, nullptr, &volume);
        player->InitAudio();
        player->PlaySound(File(QStringLiteral("short.wav")), false, false, true);
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Ended(*player), 3000);
        {
            ScopedFreeze frozen(m_server);
            // The notification window's calls for an alarm with VolumeOn and Volume 30, and its dismissal.
            const QList<std::pair<const char*, qint64>> steps{
                {"SaveSystemVolume", ElapsedMs([&] { player->SaveSystemVolume(); })},
                {"SetMute", ElapsedMs([&] { volume.SetMute(false); })},
                {"SetVolume", ElapsedMs([&] { volume.SetVolume(30); })},
                {"GetVolume", ElapsedMs([&] { volume.GetVolume(); })},
                {"PlaySound", ElapsedMs([&] {
                     player->PlaySound(File(QStringLiteral("tone.wav")), true, true, false,
                                       SoundPlayer::Fallback::BuiltInSound);
                     player->StartStopSoundTimer();
                 })},
                {"IsPlaying", ElapsedMs([&] { player->IsPlaying(); })},
            };
            for (const auto& [name, ms] : steps)
                QVERIFY2(ms < kReturnsWithinMs, qPrintable(QStringLiteral("%1 took %2 ms").arg(name).arg(ms)));
            // Both the volume and the sound fail; the user hears of it once.
            QTRY_COMPARE_WITH_TIMEOUT(volumeFailed.count(), 1, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(Ended(*player), 10000);
            QCOMPARE(player->LastError(), int(AudioError::StreamTimeout));
            QCOMPARE(calls.warnings.size(), 1);
            const qint64 stopMs = ElapsedMs([&] { player->StopSound(); });
            QVERIFY2(stopMs < kReturnsWithinMs, qPrintable(QString::number(stopMs)));
        }
        // Once the server answers again, changes are made and alarms ring again.
        QVERIFY(volume.Flush(30000));
        volume.SetVolume(100);
        QVERIFY(volume.Flush(5000));
        QCOMPARE(m_server.SinkVolumePercent(), 100);
        m_monitor.Reset();
        player->PlaySound(File(QStringLiteral("tone.wav")), true, true, false, SoundPlayer::Fallback::BuiltInSound);
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        player->StopSound();
        QCOMPARE(calls.warnings.size(), 1);
    }

    void serverKilledWhilePlayingEndsThePlay()
    {
        Calls calls;
        auto player = MakePlayer(calls);
        player->PlaySound(File(QStringLiteral("tone.wav")), true, false, true);
        QVERIFY(player->IsPlaying());
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
        m_monitor.Stop();
        m_server.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(!player->IsPlaying(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(calls.previewStates, (QList<bool>{true, false}), 3000);
        QCOMPARE(player->LastError(), int(AudioError::ServerLost));
        QCOMPARE(calls.dismissals, 1);

        // Once a server is back, the same player finds it again.
        StartServer();
        player->PlaySound(File(QStringLiteral("tone.wav")), true, false, true);
        QCOMPARE(calls.warnings, QStringList());
        QVERIFY(player->IsPlaying());
        QVERIFY(m_monitor.WaitForSound(kHeardWithinMs) >= 0);
    }
};

QTEST_GUILESS_MAIN(TestSoundPlayer)
#include "tst_soundplayer.moc"
