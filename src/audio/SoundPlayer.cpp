#include "audio/SoundPlayer.h"

#include "audio/AudioErrors.h"
#include "audio/RampDecoder.h"
#include "audio/VolumeSetForm.h"
#include "core/alarms/AlarmRecord.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLib.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QProcess>

#include <chrono>
#include <utility>

namespace {

QString FileNotFoundText(const QString& path)
{
    // Formatted but deliberately not translated: the text has no language number.
    return QStringLiteral("File %1 is not found!").replace(QStringLiteral("%1"), path);
}

bool IsFileError(int code)
{
    return code / 100 == 1;
}

// Volume changes must never stop an alarm or a dismissal half-way.
template <class F> void Swallowed(F&& f)
{
    try {
        f();
    } catch (...) {
    }
}

} // namespace

SoundPlayer::SoundPlayer(std::unique_ptr<ISoundOutput> output, TVolumeSetForm* volume, QString soundsFolder,
                         SoundPlayerHooks hooks, QObject* parent)
    : QObject(parent)
    , m_output(std::move(output))
    , m_volume(volume)
    , m_soundsFolder(std::move(soundsFolder))
    , m_hooks(std::move(hooks))
    , m_random(QRandomGenerator::system()->generate())
{
    tmrCheckActivePlaying.setInterval(100);
    connect(&tmrCheckActivePlaying, &QTimer::timeout, this, &SoundPlayer::tmrCheckActivePlayingTimer);
    connect(&tmrStopSound, &QTimer::timeout, this, &SoundPlayer::StopSound);
    // The output tells on its own thread; the news is handled here, on the main thread.
    m_output->SetConnectListener([this](int error) {
        QMetaObject::invokeMethod(
            this, [this, error] { ConnectFinished(error); }, Qt::QueuedConnection);
    });
    if (m_volume) {
        connect(m_volume, &TVolumeSetForm::failed, this, [this](const QString& text) { ReportTrouble(text, false); });
        connect(m_volume, &TVolumeSetForm::recovered, this, [this] { m_troubleReported = false; });
    }
}

SoundPlayer::~SoundPlayer()
{
    if (m_output)
        m_output->SetConnectListener({});
    FreeAudio();
}

void SoundPlayer::InitAudio()
{
    // Every format is decoded in-process, so there are no plug-ins to look for; only the
    // connection to the sound system can fail here, and its outcome comes to ConnectFinished.
    m_initPending = true;
    const int error = m_output->Connect();
    if (error != AudioError::None)
        ConnectFinished(error);
}

void SoundPlayer::ConnectFinished(int error)
{
    if (error == AudioError::None) {
        m_initPending = false;
        m_troubleReported = false;
        return;
    }
    // An attempt a sound started is reported with that sound, when its start fails.
    if (!m_initPending)
        return;
    m_initPending = false;
    WriteLog(QStringLiteral("InitAudio: ") + QString::fromStdString(AudioErrorText(error)));
    if (m_hooks.showWarning)
        m_hooks.showWarning(QStringLiteral("The output sound device has not been initialized. Error code: ") +
                            QString::number(error));
    m_troubleReported = true;
}

void SoundPlayer::ReportTrouble(const QString& text, bool showErrors)
{
    WriteLog(QStringLiteral("Sound system: ") + text);
    if ((showErrors || !m_troubleReported) && m_hooks.showWarning)
        m_hooks.showWarning(text);
    m_troubleReported = true;
}

void SoundPlayer::FreeAudio()
{
    m_nextSound.clear();
    m_preparedFile.clear();
    tmrCheckActivePlaying.stop();
    tmrStopSound.stop();
    if (m_output)
        m_output->Stop();
    m_streamExists = false;
    m_currentFile.clear();
}

void SoundPlayer::Warn(const QString& text, bool showErrors) const
{
    WriteLog(QStringLiteral("PlaySound: ") + text);
    if (showErrors && m_hooks.showWarning)
        m_hooks.showWarning(text);
}

void SoundPlayer::SetPreviewState(bool playing) const
{
    if (m_hooks.previewStateChanged)
        m_hooks.previewStateChanged(playing);
}

QStringList SoundPlayer::FolderSoundFiles(const QString& folder)
{
    // The same test as for a single file, so that whatever may be chosen alone is found in a folder too,
    // whatever the case of its extension.
    QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    files.removeIf([](const QString& name) { return !IsAudioFileName(name); });
    return files;
}

QString SoundPlayer::PickFolderFile(const QString& folder)
{
    const QStringList files = FolderSoundFiles(folder);
    if (files.isEmpty())
        return {};
    return JoinPath(folder, files.at(static_cast<qsizetype>(m_random.bounded(static_cast<quint32>(files.size())))));
}

void SoundPlayer::OpenThroughShell(const QString& path)
{
    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable()) {
        if (!QProcess::startDetached(path, {}))
            WriteLog(QStringLiteral("PlaySound: cannot start ") + path);
        return;
    }
    if (!m_hooks.openDocument || !m_hooks.openDocument(path))
        WriteLog(QStringLiteral("PlaySound: cannot open ") + path);
}

void SoundPlayer::Started(const QString& path)
{
    m_streamExists = true;
    m_currentFile = path;
    m_lastError = AudioError::None;
    SetPreviewState(true);
    tmrCheckActivePlaying.start();
}

int SoundPlayer::StartFile(const QString& path, bool loop, int rampSeconds)
{
    DecoderResult opened = OpenSoundFile(QFile::encodeName(path).toStdString());
    const int error =
        opened.decoder ? m_output->Play(WithRamp(std::move(opened.decoder), rampSeconds), loop) : opened.error;
    if (error == AudioError::None) {
        Started(path);
    } else {
        m_lastError = error;
        WriteLog(QStringLiteral("PlaySound: %1 (%2): %3")
                     .arg(QString::number(error), QString::fromStdString(AudioErrorText(error)), path));
    }
    if (error != AudioError::None && !IsFileError(error))
        AlarmSoundFailed(error);
    return error;
}

void SoundPlayer::PrepareSound(const QString& sound, bool loop, int rampSeconds)
{
    if (sound == m_nextSound && loop == m_nextLoop && rampSeconds == m_nextRamp &&
        (!m_preparedFile.isEmpty() || sound.isEmpty()))
        return;
    m_nextSound = sound;
    m_nextLoop = loop;
    m_nextRamp = rampSeconds;
    DropPrepared();
    PrepareNext();
}

void SoundPlayer::PrepareForAlarm(const QString& alarmString)
{
    if (alarmString.isEmpty())
        PrepareSound({}, false);
    else
        PrepareSound(AlarmField::Sound(alarmString), AlarmField::SoundLoop(alarmString),
                     AlarmField::RampSeconds(alarmString));
}

void SoundPlayer::DropPrepared()
{
    if (m_preparedFile.isEmpty())
        return;
    m_preparedFile.clear();
    if (!m_streamExists)
        m_output->Stop();
}

void SoundPlayer::PrepareNext()
{
    // One stream at a time: a sound that plays now is left alone, and the next one is prepared when it stops.
    if (m_streamExists || m_nextSound.isEmpty() || !m_preparedFile.isEmpty())
        return;
    QString path = ResolveSoundName(m_nextSound, m_soundsFolder);
    if (path.isEmpty())
        return;
    // Whatever is not a plain audio file (a folder left empty, a program, a web address) takes the
    // ordinary way at the due second.
    if (QFileInfo(path).isDir())
        path = PickFolderFile(path);
    if (path.isEmpty() || path.contains(QStringLiteral("://")) || !IsAudioFileName(path) || !QFileInfo(path).isFile())
        return;
    DecoderResult opened = OpenSoundFile(QFile::encodeName(path).toStdString());
    // The ramp lives in the samples, so the stream is buffered already quiet and the due second starts it as fast
    // as one at full volume.
    if (opened.decoder &&
        m_output->Prepare(WithRamp(std::move(opened.decoder), m_nextRamp), m_nextLoop) == AudioError::None)
        m_preparedFile = path;
}

bool SoundPlayer::StartPrepared(const QString& sound, bool loop, int rampSeconds)
{
    if (m_preparedFile.isEmpty() || sound != m_nextSound || loop != m_nextLoop || rampSeconds != m_nextRamp)
        return false;
    const QString path = std::exchange(m_preparedFile, QString());
    if (!m_output->StartPrepared())
        return false;
    Started(path);
    return true;
}

void SoundPlayer::PlaySound(const QString& sound, bool loop, bool allowPrograms, bool showErrors, Fallback fallback,
                            int rampSeconds)
{
    m_showErrors = showErrors;
    m_alarmSound = fallback == Fallback::BuiltInSound;
    if (!m_streamExists && StartPrepared(sound, loop, rampSeconds))
        return;
    DropPrepared();
    if (m_streamExists) {
        m_output->Stop();
        m_streamExists = false;
        m_currentFile.clear();
    }

    QString path = ResolveSoundName(sound, m_soundsFolder);
    if (path.isEmpty()) {
        if (m_hooks.dismissAlarmIfHidden)
            m_hooks.dismissAlarmIfHidden();
        Warn(FileNotFoundText(QString()), showErrors);
        return;
    }

    QFileInfo info(path);
    bool emptyFolder = false;
    if (!info.isFile() && info.isDir()) {
        const QString picked = PickFolderFile(path);
        emptyFolder = picked.isEmpty();
        if (!emptyFolder) {
            path = picked;
            info = QFileInfo(path);
        }
    }

    // An alarm must not go silent because its file was moved or damaged (or its folder
    // emptied): at alarm time the built-in sound stands in. An empty Sound stays silent above.
    const auto playFallback = [&](const QString& why) {
        WriteLog(QStringLiteral("PlaySound: ") + why + QStringLiteral(", playing the built-in sound instead"));
        const int fallbackError = StartFile(ResolveSoundName(FallbackSoundName(), m_soundsFolder), loop, rampSeconds);
        if (IsFileError(fallbackError))
            AlarmSoundFailed(fallbackError);
    };
    // A web address is no file: it is opened below, never replaced by the built-in sound.
    const bool webAddress = path.contains(QStringLiteral("://"));
    if (fallback == Fallback::BuiltInSound && !webAddress && (emptyFolder || !info.exists())) {
        playFallback(FileNotFoundText(path));
        return;
    }

    if (allowPrograms && !IsAudioFileName(path)) {
        OpenThroughShell(path);
        return;
    }

    if (!info.isFile()) {
        Warn(FileNotFoundText(path), showErrors);
        return;
    }

    const int error = StartFile(path, loop, rampSeconds);
    if (error == AudioError::None)
        return;
    if (fallback == Fallback::BuiltInSound && IsFileError(error)) {
        playFallback(QStringLiteral("cannot decode ") + path);
        return;
    }
    // File and server failures mean no channel could be made; a stream failure means one was
    // made but would not play.
    const QString what = error / 100 == 3 ? QStringLiteral("Cannot play sound! Error code: ")
                                          : QStringLiteral("Sound channel has not been initialized! Error code: ");
    Warn(what + QString::number(error) + QStringLiteral(". File: ") + path, showErrors);
}

void SoundPlayer::StopSound()
{
    tmrStopSound.stop();
    tmrCheckActivePlaying.stop();
    if (m_streamExists) {
        m_output->Stop();
        m_streamExists = false;
        m_currentFile.clear();
    }
    SetPreviewState(false);
    RestoreSystemVolume();
    // Not at once: a dismissal is not held up by opening the next alarm's file.
    QTimer::singleShot(0, this, [this] { PrepareNext(); });
}

void SoundPlayer::StartFailed(int error)
{
    const QString path = m_currentFile;
    m_streamExists = false;
    m_currentFile.clear();
    m_lastError = error;
    WriteLog(QStringLiteral("PlaySound: %1 (%2): %3")
                 .arg(QString::number(error), QString::fromStdString(AudioErrorText(error)), path));
    // The same texts as a failure found at once: no channel could be made, or one was made but would not play.
    const QString what = error / 100 == 3 ? QStringLiteral("Cannot play sound! Error code: ")
                                          : QStringLiteral("Sound channel has not been initialized! Error code: ");
    ReportTrouble(what + QString::number(error) + QStringLiteral(". File: ") + path, m_showErrors);
    SetPreviewState(false);
    AlarmSoundFailed(error);
}

void SoundPlayer::AlarmSoundFailed(int error) const
{
    if (m_alarmSound && m_hooks.alarmSoundFailed)
        m_hooks.alarmSoundFailed(error);
}

void SoundPlayer::tmrCheckActivePlayingTimer()
{
    if (m_streamExists && m_output->HasStarted())
        m_troubleReported = false;
    if (m_streamExists && m_output->IsActive())
        return;
    tmrCheckActivePlaying.stop();
    // A sound that never started is a failure to play it, not the end of an alarm's sound: the alarm
    // stays up, and its volume is put back when it is dismissed.
    if (m_streamExists && !m_output->HasStarted()) {
        StartFailed(m_output->LastError());
        return;
    }
    if (m_streamExists && m_output->LastError() != AudioError::None) {
        m_lastError = m_output->LastError();
        WriteLog(QStringLiteral("PlaySound: stopped: ") + QString::fromStdString(AudioErrorText(m_lastError)));
    }
    if (m_hooks.dismissAlarmIfHidden)
        m_hooks.dismissAlarmIfHidden();
    SetPreviewState(false);
    RestoreSystemVolume();
}

int SoundPlayer::PlayDurationMinutes(int value)
{
    static constexpr int minutes[] = {0, 1, 5, 10, 30, 60};
    return value >= 1 && value <= 5 ? minutes[value] : 0;
}

void SoundPlayer::SetPlayDuration(int value)
{
    m_playDuration = value >= 0 && value <= 5 ? value : 0;
}

void SoundPlayer::StartStopSoundTimer()
{
    tmrStopSound.stop();
    const int minutes = PlayDurationMinutes(m_playDuration);
    if (minutes == 0)
        return;
    tmrStopSound.setInterval(minutes * 60000);
    tmrStopSound.start();
}

bool SoundPlayer::IsPlaying() const
{
    return m_streamExists && m_output->IsActive();
}

void SoundPlayer::SaveSystemVolume()
{
    if (m_volumeSaved || !m_volume)
        return;
    m_volumeSaved = true;
    // Saved exactly as the system has it (per channel, amplification included), not as a percent: the
    // restore must give back what the user had, not the nearest percent of it.
    Swallowed([this] { m_volume->SaveState(); });
}

void SoundPlayer::RestoreSystemVolume()
{
    if (!m_volumeSaved)
        return;
    m_volumeSaved = false;
    // The stopped stream gets a moment to fall silent before the old volume comes back; the volume
    // object's thread waits that out, this one goes on.
    Swallowed([this] { m_volume->RestoreState(std::chrono::milliseconds(kRestoreDelayMs)); });
}
