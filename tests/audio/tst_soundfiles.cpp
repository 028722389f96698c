#include "TestSupport.h"
#include "audio/AudioErrors.h"
#include "audio/SoundDecoder.h"
#include "audio/SoundPlayer.h"
#include "core/mglib/MgLib.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <cmath>
#include <vector>

namespace {

// A short sine tone written by libsndfile itself in the given container and codec; false (with why) when it could not.
bool WriteTone(const QString& path, int format, int sampleRate, QString* why)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = format;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) {
        *why = QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    std::vector<float> samples(static_cast<size_t>(sampleRate / 2));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.5f * float(std::sin(2.0 * M_PI * 440.0 * double(i) / sampleRate));
    const sf_count_t written = sf_writef_float(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
    if (written != sf_count_t(samples.size())) {
        *why = QStringLiteral("short write of %1").arg(path);
        return false;
    }
    return true;
}

struct Kind {
    const char* fileName;
    int format;
    int sampleRate;
};

// Formats people keep their sounds in, each under the extension its files usually carry.
const Kind kKinds[] = {
    {"bell.oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100}, {"bell.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100},
    {"bell.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000},  {"bell.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100},
    {"bell.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100}, {"bell.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100},
    {"bell.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 44100},   {"bell.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 44100},
    {"bell.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 44100}, {"bell.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 44100},
};

} // namespace

class TestSoundFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyWrittenKindIsASoundThatDecodes_data();
    void everyWrittenKindIsASoundThatDecodes();
    void folderSoundTakesEveryAudioFile();
    void decoderFormatsAreAudioFileNames();

private:
    QTemporaryDir m_dir;
};

void TestSoundFiles::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const Kind& kind : kKinds) {
        QString why;
        QVERIFY2(WriteTone(m_dir.filePath(QString::fromLatin1(kind.fileName)), kind.format, kind.sampleRate, &why),
                 qPrintable(why));
    }
}

void TestSoundFiles::everyWrittenKindIsASoundThatDecodes_data()
{
    QTest::addColumn<QString>("fileName");
    for (const Kind& kind : kKinds)
        QTest::newRow(kind.fileName) << QString::fromLatin1(kind.fileName);
}

void TestSoundFiles::everyWrittenKindIsASoundThatDecodes()
{
    QFETCH(QString, fileName);
    const QString path = m_dir.filePath(fileName);
    QVERIFY(IsAudioFileName(path));
    QVERIFY(IsAudioFileName(path.toUpper()));
    DecoderResult opened = OpenSoundFile(QFile::encodeName(path).toStdString());
    QCOMPARE(opened.error, int(AudioError::None));
    QVERIFY(opened.decoder);
    std::vector<float> buffer(4096 * size_t(opened.decoder->Format().channels));
    QVERIFY(opened.decoder->Read(buffer.data(), 4096) > 0);
}

void TestSoundFiles::folderSoundTakesEveryAudioFile()
{
    const QString folder = m_dir.filePath(QStringLiteral("theme"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/inner")));
    QStringList expected;
    for (const Kind& kind : kKinds) {
        const QString name = QString::fromLatin1(kind.fileName);
        QVERIFY(QFile::copy(m_dir.filePath(name), folder + u'/' + name));
        expected.append(name);
    }
    QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("bell.oga")), folder + QStringLiteral("/LOUD.OGA")));
    expected.append(QStringLiteral("LOUD.OGA"));
    QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("bell.oga")), folder + QStringLiteral("/inner/deep.oga")));
    WriteFileBytes(folder + QStringLiteral("/index.theme"), "[Sound Theme]\n");
    WriteFileBytes(folder + QStringLiteral("/list.m3u"), "bell.oga\n");

    QStringList found = SoundPlayer::FolderSoundFiles(folder);
    found.sort();
    expected.sort();
    QCOMPARE(found, expected);
}

void TestSoundFiles::decoderFormatsAreAudioFileNames()
{
    // Every container the decoder reads that holds sounds people keep, under the extension the decoder
    // itself gives it, is taken as a sound file.
    const QStringList common = {QStringLiteral("wav"),  QStringLiteral("aiff"), QStringLiteral("au"),
                                QStringLiteral("flac"), QStringLiteral("caf"),  QStringLiteral("oga"),
                                QStringLiteral("w64"),  QStringLiteral("rf64"), QStringLiteral("mp3")};
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
    QStringList offered;
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info));
        offered.append(QString::fromLatin1(info.extension));
    }
    for (const QString& extension : common) {
        if (!offered.contains(extension))
            continue; // a decoder built without it
        QVERIFY2(IsAudioFileName(QStringLiteral("sound.") + extension), qPrintable(extension));
    }
    QVERIFY2(offered.contains(QStringLiteral("oga")), qPrintable(offered.join(u' ')));
}

QTEST_GUILESS_MAIN(TestSoundFiles)
#include "tst_soundfiles.moc"
