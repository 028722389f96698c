#pragma once

#include "audio/SoundOutput.h"

#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class TVolumeSetForm;

/** Calls out of the sound player into the windows; every one may be left empty. */
struct SoundPlayerHooks {
    /** Shows a warning box with the product title. */
    std::function<void(const QString& text)> showWarning;
    /** The notification window dismisses its alarm when the window is not visible (balloon-only alarm). */
    std::function<void()> dismissAlarmIfHidden;
    /** The alarm editor's preview button follows this. */
    std::function<void(bool playing)> previewStateChanged;
    /** Opens a document or folder with the desktop's default application; false when that failed. */
    std::function<bool(const QString& path)> openDocument;
    /** An alarm's sound could not be played by any output; error is the last AudioError code. */
    std::function<void(int error)> alarmSoundFailed;
};

/**
 * Plays the sound of an alarm or of the editor's preview: a stock sound name, an audio file, a
 * random audio file of a folder, or a program or document opened instead of played. One sound at
 * a time. Also owns the play-duration limit, the end-of-sound watch and the saving and restoring
 * of the system volume around an alarm. Main thread only.
 *
 * Nothing here waits for the sound server: a sound starts in the background, and the volume object
 * works on its own thread. What the server fails to do arrives later: it is written to the debug log
 * and reported through showWarning, at alarm time once until the server works again.
 */
class SoundPlayer final : public QObject
{
    Q_OBJECT

public:
    /** What to do at alarm time when the alarm's sound file is missing or cannot be decoded. */
    enum class Fallback { None, BuiltInSound };

    /** volume may be null (no system volume changes); soundsFolder holds the stock sounds. */
    SoundPlayer(std::unique_ptr<ISoundOutput> output, TVolumeSetForm* volume, QString soundsFolder,
                SoundPlayerHooks hooks, QObject* parent = nullptr);
    ~SoundPlayer() override;

    /** Starts connecting to the sound system at start-up; warns (always, when the answer comes) when no output can be
     * reached. */
    void InitAudio();
    /** rampSeconds: the sound rises from silence to full over this long (0: at full from the start). */
    void PlaySound(const QString& sound, bool loop, bool allowPrograms, bool showErrors,
                   Fallback fallback = Fallback::None, int rampSeconds = 0);
    /** Stops the sound and the timers, ends the preview state and restores the system volume. */
    void StopSound();
    /**
     * The sound the next alarm plays (empty: none). While nothing plays, its file is opened and a paused
     * stream made for it, so that PlaySound of the same sound at the due second has only to start it.
     */
    void PrepareSound(const QString& sound, bool loop, int rampSeconds = 0);
    /** PrepareSound for the sound of an alarm (an AlarmString; empty: none). */
    void PrepareForAlarm(const QString& alarmString);
    /** The file a prepared stream waits with, or empty. */
    QString PreparedFile() const { return m_preparedFile; }
    /** Arms tmrStopSound from the play duration; called right after PlaySound at alarm time. */
    void StartStopSoundTimer();
    /** Has the volume object read the volume and mute exactly as they are, once per alarm. */
    void SaveSystemVolume();
    /** Has what SaveSystemVolume read put back, a moment later so that the stopped sound has fallen silent. */
    void RestoreSystemVolume();
    /** Releases the sound system (at exit). */
    void FreeAudio();

    /** Play duration setting 0..5 (key PlaySoundDuration); other values count as 0. */
    void SetPlayDuration(int value);
    int PlayDuration() const { return m_playDuration; }
    /** Minutes after which a play duration value stops the sound; 0 for never. */
    static int PlayDurationMinutes(int value);

    /** True from PlaySound until the sound ends, also while it is still starting. */
    bool IsPlaying() const;
    /** File being played (after name resolution and folder pick), empty when none. */
    QString CurrentFile() const { return m_currentFile; }
    /** Code of the last failure to start or keep playing, 0 when none. */
    int LastError() const { return m_lastError; }
    /**
     * The files a folder sound picks from: those right in folder whose extension is an audio one
     * (IsAudioFileName), hidden ones included, sorted by name.
     */
    static QStringList FolderSoundFiles(const QString& folder);
    /** Stock sound played at alarm time when the alarm's own file cannot be played. */
    static QString FallbackSoundName() { return QStringLiteral("Bells1"); }

    // Named as the rest of the program refers to them; public so the windows and tests can read them.
    QTimer tmrCheckActivePlaying; // end-of-sound watch, 100 ms, enabled only while a sound plays
    QTimer tmrStopSound;          // play-duration limit

    /** Time the restore leaves a stopped sound to fall silent before the old volume comes back. */
    static constexpr int kRestoreDelayMs = 100;

private:
    void tmrCheckActivePlayingTimer();
    void Warn(const QString& text, bool showErrors) const;
    /** A failure of the sound system: logged, and shown when asked to or when not yet reported. */
    void ReportTrouble(const QString& text, bool showErrors);
    void ConnectFinished(int error);
    void StartFailed(int error);
    QString PickFolderFile(const QString& folder);
    void OpenThroughShell(const QString& path);
    /** Starts path; 0 or an AudioError code. */
    int StartFile(const QString& path, bool loop, int rampSeconds);
    void Started(const QString& path);
    /** Starts the prepared stream when it is for this sound; false when PlaySound must start it. */
    bool StartPrepared(const QString& sound, bool loop, int rampSeconds);
    void PrepareNext();
    void DropPrepared();
    void SetPreviewState(bool playing) const;
    void AlarmSoundFailed(int error) const;

    std::unique_ptr<ISoundOutput> m_output;
    TVolumeSetForm* m_volume;
    QString m_soundsFolder;
    SoundPlayerHooks m_hooks;
    QRandomGenerator m_random; // seeded once, at construction
    bool m_streamExists = false;
    QString m_currentFile;
    bool m_showErrors = false; // of the PlaySound that started the current sound
    bool m_alarmSound = false; // the current sound is an alarm's (it has the built-in sound as its fallback)
    int m_lastError = 0;
    int m_playDuration = 0;
    bool m_volumeSaved = false;
    bool m_initPending = false;     // InitAudio waits for the outcome of its connection attempt
    bool m_troubleReported = false; // a sound system failure was shown and nothing has worked since
    QString m_nextSound;            // what PrepareSound asked for
    bool m_nextLoop = false;
    int m_nextRamp = 0;
    QString m_preparedFile; // the file the output's paused stream plays; empty when none
};
