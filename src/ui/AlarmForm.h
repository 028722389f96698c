#pragma once

#include "core/alarms/AlarmRecord.h"
#include "platform/WakeStatus.h"
#include "ui/MgForm.h"

#include <QDialog>
#include <QLocale>
#include <QStringList>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QToolButton;

/** What the alarm editor asks of the rest of the program; every hook may be left empty. */
struct AlarmFormHooks {
    /**
     * allowPrograms and showErrors are true only for the play button; a selection previews silently. The
     * play button's sound rises from silence over rampSeconds, as the alarm's will; a selection's is at full.
     */
    std::function<void(const QString& sound, bool loop, bool allowPrograms, bool showErrors, int rampSeconds)>
        playSound;
    std::function<void()> stopSound; // restores the system volume too
    std::function<bool()> isPlaying;
    std::function<void()> saveSystemVolume;
    std::function<void(int percent)> setSystemVolume;  // unmutes, then sets
    std::function<bool()> wakeTimersAvailable;         // empty: available
    std::function<void()> donate;                      // the main window's donate command
    std::function<void(const QString& page)> openLink; // a page of the product's help, e.g. "waketimers.html"
    std::function<int()> defaultSnoozeMinutes;         // the global snooze length; empty: 9
    QString soundsFolder;                              // the stock sounds
};

/** How the editor offers the hour in a locale: a 1..12 list with AM and PM, or a 0..23 list. */
struct EditorTimeFormat {
    QString hourFormat = QStringLiteral("h"); // "hh" when the locale writes hours with two digits
    QString amText;                           // both empty for a 24-hour editor
    QString pmText;
    QString designatorFormat; // the Qt token of the designator ("AP", "ap", ...), or empty

    bool TwelveHour() const { return !amText.isEmpty() || !pmText.isEmpty(); }

    /**
     * Twelve hours when the short time format holds a designator, before the time ("AP h:mm") or after
     * it, and the locale has designator texts; every other locale gets the 24-hour list.
     */
    static EditorTimeFormat FromLocale(const QLocale& locale);
};

/** The hour texts of cbHours: 1..12 for a 12-hour format, else 0..23 (00..23 with "hh"). */
QStringList EditorHourTexts(const QLocale& locale, const EditorTimeFormat& format);

/** The stock sound names of a folder: its "*.mp3" files without the extension, sorted by name. */
QStringList StockSoundNames(const QString& soundsFolder);

/**
 * What the sound combo shows for a file chosen through Browse: the stock name when the file is one of
 * the listed stock sounds of the sounds folder, else the full path.
 */
QString SoundNameForChoice(const QString& chosenPath, const QString& soundsFolder, const QStringList& stockNames);

/** The modal editor of one alarm. Execute fills the controls from alarm and, on OK, writes them back. */
class TAlarmForm final : public QDialog, public TMgForm
{
    Q_OBJECT

public:
    explicit TAlarmForm(TMgLang& lang, QWidget* parent = nullptr);
    ~TAlarmForm() override;

    /** Also refills the sound list from hooks.soundsFolder. */
    void SetHooks(AlarmFormHooks hooks);

    /** Shows the editor modally; on OK alarm holds the edited values with Enabled set. */
    bool Execute(AlarmRecord& alarm);
    /** The main window hides the button once the user has donated; it also needs a donate hook. */
    void SetDonateVisible(bool visible);
    /** The locale's time format or first weekday may have changed (the default QLocale is read). */
    void RefreshLocale();

    /** Fills the hour, minute and designator lists from the default QLocale, keeping the chosen time. */
    void FillTimeLists();
    /** The none text and the stock sounds. */
    void FillSoundList();
    void LoadFromRecord(const AlarmRecord& alarm);
    /** The record loaded last with the controls' values; Enabled stays as it was loaded. */
    AlarmRecord SaveToRecord() const;
    /** The sound player's preview state: the play button shows stop while playing. */
    void SetPreviewState(bool playing);
    /** What the wake box says about this computer; nullopt while it is being found out. */
    void SetWakeStatus(const std::optional<WakeStatus>& status);

    /** The time the three lists show; none when a list has no selection. */
    std::optional<QTime> SelectedTime() const;
    /** The folder the Browse dialog opens in: that of a path in the combo, else the sounds folder. */
    QString BrowseStartFolder() const;
    /** What follows a Browse choice: the combo shows the stock name or the path, and the sound previews. */
    void ApplySoundChoice(const QString& chosenPath);
    /** 0 play, 1 stop. */
    int PlayGlyph() const { return m_playGlyph; }

    QScrollArea* sbxFields; // every control above the buttons
    QGroupBox* gbTime;
    QComboBox* cbHours;
    QComboBox* cbMinutes;
    QComboBox* cbAMPM;
    QGroupBox* gbRepeat;
    QCheckBox* chkDay[7]; // chkDay1 .. chkDay7 in the locale's week order
    QLabel* lblLabel;
    QPlainTextEdit* memoLabel;
    QCheckBox* chkShowMessage;
    QLabel* lblSound;
    QComboBox* cbSound;
    QToolButton* btnPlaySound;
    QPushButton* btnSoundFile;
    QCheckBox* chkVolumeOn;
    QSlider* trbVolume;
    QLabel* lblVolume;
    QLabel* lblRamp;
    QComboBox* cbRamp; // the alarm's RampSeconds, one item per kRampChoices entry
    QCheckBox* chkSoundLoop;
    QCheckBox* chkSnooze;
    QComboBox* cbSnoozeLength; // the alarm's SnoozeMinutes; the first item (0) is the global length
    QCheckBox* chkWakeup;
    QLabel* lblWakeup;
    QLabel* lblWakeStatus; // whether this computer wakes for the alarm, with a help link; hidden until told
    QCheckBox* chkMonitorOn;
    QPushButton* btnDonate;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QFileDialog* odAudio = nullptr; // made on the first Browse

public slots:
    void accept() override;

protected:
    void DoLanguageChanged() override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void translateDays();
    /** Names and descriptions for screen readers, in the current language. */
    void applyAccessibleTexts();
    void updateWakeControls();
    void updateWakeStatusText();
    /** Sizes the fields' scroll area so that the dialog, buttons included, fits the available screen. */
    void fitToScreen();
    void updatePlayButton();
    void updateDonateButton();
    void selectTime(QTime time);
    void cbSoundSelected();
    void btnPlaySoundClick();
    void btnSoundFileClick();
    QFileDialog* audioDialog();
    void translateAudioDialog();
    void trbVolumeChange(int position);
    /** The ramp and snooze length items in the current language, keeping the chosen values. */
    void fillRampList();
    void fillSnoozeLengthList();
    /** Selects minutes in cbSnoozeLength, adding an item for a length the list does not offer. */
    void selectSnoozeMinutes(int minutes);
    void preview(bool silent);
    bool isPlaying() const;

    AlarmFormHooks m_hooks;
    EditorTimeFormat m_timeFormat;
    AlarmRecord m_alarm;
    QStringList m_stockNames;
    QString m_wakeCaption;
    // Outer: whether the main window has told anything; inner: whether the answer is known yet.
    std::optional<std::optional<WakeStatus>> m_wakeStatus;
    int m_weekOffset = 0; // first weekday of the day captions, Sunday = 0
    int m_playGlyph = 0;
    bool m_donateVisible = true;
    bool m_previewStarted = false; // a sound of this dialog may still play
    bool m_wakeLinkHovered = false;
};
