#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>

// Translation of the user interface. English texts are built in; every other language comes from a
// UTF-8 text file "<name>.txt" in the Langs folder, holding numbered strings:
//
//   ; a comment (the first line keeps the byte-order mark, so it is never a key line)
//   1000=Deutsch            display name in the language menu
//   1001=7                  Windows language identifier in decimal
//   1002=1250               optional: the 8-bit code page of files its users wrote without UTF-8
//   0029=Jeden Tag          numbered string; "##" is a line break
//   0004=Wecker %1          a line without "=" in the fifth place
//   löschen?                continues the value above, joined without a separator
//
// Identifiers are the Windows ones (1049 Russian, 2057 English UK, ...), which keeps language files
// and Data.ini interchangeable with the Windows build.

/** One numbered string with its built-in English text. */
struct LangText {
    int key;
    const char16_t* english;

    QString English() const { return QString::fromUtf16(english); }
};

// Later groups, each in its own key range so that they stay in key order: missed alarms 200-219,
// time left and snooze 220-239, skip and gradual volume 240-259, wake-up 260-279, notification
// actions 280-289, sound failures 290-299.
#define LARKBELL_LANG_TEXTS_MISSED(X)                                                                                  \
    X(MissedWhileOff, 200, u"Missed while the computer was off: %1")                                                   \
    X(MissedGotIt, 201, u"&Got it")                                                                                    \
    X(MissedLimitMenu, 202, u"Ring missed alarms")                                                                     \
    X(MissedLimitOff, 203, u"Never")                                                                                   \
    X(MissedLimitMinutes, 204, u"Up to %1 minutes late")                                                               \
    X(DueAt, 205, u"Due at %1")                                                                                        \
    X(MissedMark, 206, u"missed")                                                                                      \
    X(MissedBarName, 207, u"Missed alarms")                                                                            \
    X(MissedMore, 208, u"and %1 more")
#define LARKBELL_LANG_TEXTS_TIME_LEFT(X)                                                                               \
    X(TimeLeftDays, 220, u"%1 d")                                                                                      \
    X(TimeLeftHours, 221, u"%1 h")                                                                                     \
    X(TimeLeftMinutes, 222, u"%1 min")                                                                                 \
    X(RingsIn, 223, u"Rings in %1")                                                                                    \
    X(SnoozedUntil, 224, u"Snoozed until %1")                                                                          \
    X(SnoozeLength, 225, u"Snooze for")
#define LARKBELL_LANG_TEXTS_ALARM_EXTRAS(X)                                                                            \
    X(SkipNext, 240, u"Skip next (%1)")                                                                                \
    X(DontSkip, 241, u"Don't skip (%1)")                                                                               \
    X(SkipNextNone, 242, u"Skip next")                                                                                 \
    X(SkipsOn, 243, u"skips %1")                                                                                       \
    X(GradualVolume, 250, u"Gradual volume:")                                                                          \
    X(RampOff, 251, u"Off")                                                                                            \
    X(RampSecondsCount, 252, u"%1 seconds")                                                                            \
    X(EditorOneMinute, 253, u"1 minute")                                                                               \
    X(EditorMinutesCount, 254, u"%1 minutes")                                                                          \
    X(EditorMinutesCountFew, 255, u"%1 minutes")                                                                       \
    X(SnoozeLengthDefault, 256, u"Default (%1 min)")                                                                   \
    X(AlarmSnoozeLength, 257, u"Snooze length")
#define LARKBELL_LANG_TEXTS_WAKE(X)                                                                                    \
    X(WakeWillWake, 260, u"This computer will wake up for this alarm.")                                                \
    X(WakeWillNotWake, 261, u"This computer will not wake up for this alarm: %1.")                                     \
    X(WakeMayNotWake, 262, u"This computer may not wake up for this alarm: %1.")                                       \
    X(WakeNoCapability, 263,                                                                                           \
      u"the program may not set wake alarms (CAP_WAKE_ALARM); run it as root, install the package, or log in on a "    \
      u"local seat with systemd 254 or newer")                                                                         \
    X(WakeNoClock, 264, u"no clock of this computer can wake it")                                                      \
    X(WakeNoAlarmTimers, 265, u"the system has no alarm timers")                                                       \
    X(WakeDaemonLacksRight, 266, u"the power daemon may not set wake alarms")                                          \
    X(WakeDaemonCannotTell, 267, u"the power daemon cannot tell whether it can wake this computer")                    \
    X(WakeSystemForbids, 268, u"the power settings do not allow wake timers")                                          \
    X(WakeChecking, 269, u"Checking whether this computer can wake up...")                                             \
    X(WakeListMark, 270, u"will not wake the computer")                                                                \
    X(TestWakeup, 271, u"Test wake-up...")                                                                             \
    X(TestWakeupQuestion, 272,                                                                                         \
      u"The computer will go to sleep now and should wake up by itself in one minute. Save your work first. Go on?")   \
    X(TestWakeupWoke, 273, u"The computer woke up by itself at the wake time: alarms can wake it from sleep.")         \
    X(TestWakeupLate, 274,                                                                                             \
      u"The computer did not wake up by itself: it came back %1 seconds after the wake time. Alarms cannot wake it "   \
      u"from sleep.")                                                                                                  \
    X(TestWakeupEarly, 275,                                                                                            \
      u"The computer came back before the wake time, so the test cannot tell whether it wakes up by itself. Try "      \
      u"again without touching it.")                                                                                   \
    X(TestWakeupFailed, 276, u"The computer could not be put to sleep: %1")                                            \
    X(TestWakeupUnavailable, 277, u"This system offers no way to put the computer to sleep from here.")
#define LARKBELL_LANG_TEXTS_NOTIFICATION(X) X(NotificationDismiss, 280, u"Dismiss")
#define LARKBELL_LANG_TEXTS_NO_SOUND(X)                                                                                \
    X(NoSoundPlayed, 290, u"No sound could be played: %1")                                                             \
    X(NoSoundAnywhere, 291, u"neither the sound server nor a sound device answered")                                   \
    X(NoSoundServer, 292, u"the sound server cannot be reached")                                                       \
    X(NoSoundFile, 293, u"the sound file cannot be read")                                                              \
    X(NoSoundStream, 294, u"the sound server refused to play it")

// The numbered strings, the single table of keys and English texts; a name the program uses in code,
// the key and the English text. The group-box texts hold no padding: TranslateGroupBox adds it.
#define LARKBELL_LANG_TEXTS(X)                                                                                         \
    X(Add, 1, u"Add")                                                                                                  \
    X(Edit, 2, u"Edit")                                                                                                \
    X(Delete, 3, u"Delete")                                                                                            \
    X(DeleteAlarmQuestion, 4, u"Delete Alarm %1?")                                                                     \
    X(Clone, 5, u"Clone")                                                                                              \
    X(CloneSuffix, 6, u"Copy")                                                                                         \
    X(OpenWebSite, 7, u"Open Web-site")                                                                                \
    X(Close, 8, u"Close")                                                                                              \
    X(Exit, 9, u"Exit")                                                                                                \
    X(Enabled, 10, u"Enabled")                                                                                         \
    X(Help, 12, u"Help")                                                                                               \
    X(File, 13, u"File")                                                                                               \
    X(NoSound, 14, u"(None)")                                                                                          \
    X(Ok, 15, u"OK")                                                                                                   \
    X(Cancel, 16, u"Cancel")                                                                                           \
    X(Sound, 20, u"Sound")                                                                                             \
    X(Browse, 21, u"Browse...")                                                                                        \
    X(BrowseForSound, 22, u"Browse for new sound")                                                                     \
    X(LabelCaption, 23, u"Label:")                                                                                     \
    X(TurnOnVolume, 24, u"Turn on the volume")                                                                         \
    X(TurnOnMonitor, 25, u"Turn on the monitor power")                                                                 \
    X(TimeGroup, 26, u"Time")                                                                                          \
    X(Alarm, 27, u"Alarm")                                                                                             \
    X(Every, 28, u"Every")                                                                                             \
    X(EveryDay, 29, u"Every day")                                                                                      \
    X(Weekdays, 30, u"Weekdays")                                                                                       \
    X(Weekends, 31, u"Weekends")                                                                                       \
    X(RepeatGroup, 32, u"Repeat")                                                                                      \
    X(RepeatSound, 33, u"Repeat sound")                                                                                \
    X(Snooze, 34, u"Snooze")                                                                                           \
    X(SnoozeButton, 35, u"Snooze")                                                                                     \
    X(WakeUpComputer, 36, u"Wake up computer from a sleep mode")                                                       \
    X(TimerNotCreated, 37, u"Timer is not created!")                                                                   \
    X(Mp3Files, 38, u"MP3 Files")                                                                                      \
    X(NextAlarms, 39, u"Next %1 Alarms:")                                                                              \
    X(Greeting, 40, u"%1 is greeting you!")                                                                            \
    X(GoodMorning, 41, u"Good morning!")                                                                               \
    X(RunAtStartup, 42, u"Run at startup")                                                                             \
    X(ShowMessage, 44, u"Show message")                                                                                \
    X(StayOnTop, 59, u"Stay on top")                                                                                   \
    X(Hour, 80, u"Hour")                                                                                               \
    X(Minute, 81, u"Minute")                                                                                           \
    X(Hours, 86, u"Hours")                                                                                             \
    X(Minutes, 87, u"Minutes")                                                                                         \
    X(SaveToFile, 101, u"Save to File")                                                                                \
    X(LoadFromFile, 103, u"Load from File")                                                                            \
    X(Options, 104, u"Options")                                                                                        \
    X(Language, 105, u"Language")                                                                                      \
    X(ShowFloatingClock, 109, u"Show clock in floating window")                                                        \
    X(AllFilesBackup, 110, u"All files")                                                                               \
    X(Backups, 112, u"Backups")                                                                                        \
    X(Donate, 116, u"Donate")                                                                                          \
    X(AudioFiles, 117, u"Audio files")                                                                                 \
    X(ExecutableFiles, 118, u"Executable files")                                                                       \
    X(AllFilesSound, 119, u"All files")                                                                                \
    X(Directory, 120, u"Directory")                                                                                    \
    X(Url, 121, u"URL")                                                                                                \
    X(SingleLine, 122, u"Single Line")                                                                                 \
    X(CancelSnooze, 130, u"Cancel Snooze")                                                                             \
    X(UntilMessageClosed, 131, u"Until alarm message is closed")                                                       \
    X(PlaySound, 133, u"Play sound")                                                                                   \
    LARKBELL_LANG_TEXTS_MISSED(X)                                                                                      \
    LARKBELL_LANG_TEXTS_TIME_LEFT(X)                                                                                   \
    LARKBELL_LANG_TEXTS_ALARM_EXTRAS(X)                                                                                \
    LARKBELL_LANG_TEXTS_WAKE(X)                                                                                        \
    LARKBELL_LANG_TEXTS_NOTIFICATION(X)                                                                                \
    LARKBELL_LANG_TEXTS_NO_SOUND(X)

namespace Text {
#define LARKBELL_LANG_TEXT_CONSTANT(name, key, english) inline constexpr LangText name{key, english};
LARKBELL_LANG_TEXTS(LARKBELL_LANG_TEXT_CONSTANT)
#undef LARKBELL_LANG_TEXT_CONSTANT

#define LARKBELL_LANG_TEXT_ENTRY(name, key, english) LangText{key, english},
/** Every numbered string in key order. */
inline constexpr LangText All[] = {LARKBELL_LANG_TEXTS(LARKBELL_LANG_TEXT_ENTRY)};
#undef LARKBELL_LANG_TEXT_ENTRY

// Formatted with FormatText but never looked up by number.
inline constexpr const char16_t* FileNotFound = u"File %1 is not found!";
} // namespace Text

/** Keys that describe a language file itself rather than a string. */
inline constexpr int DisplayNameKey = 1000;
inline constexpr int LanguageIdKey = 1001;
inline constexpr int CodePageKey = 1002;

/** English, and the identifier that every English variant becomes. */
inline constexpr int EnglishLanguageId = 9;

/** A language file is read only up to this size; a larger file is ignored as not a language file. */
inline constexpr qint64 MaxLanguageFileSize = 4 * 1024 * 1024;

struct TMgLangListItem {
    QString Name;        // file name without ".txt"
    int LanguageId = 0;  // Windows language identifier
    QString DisplayName; // the language's own name, from key 1000
};

struct TMgLangItem {
    int Key = 0;
    QString Text;
};

/**
 * The language files of folder, sorted by name without regard to case. A file is listed when it has a
 * display name (1000=) and an identifier above 0 (1001=); files that cannot be read are passed over.
 */
QList<TMgLangListItem> BuildLanguageList(const QString& folder);

/**
 * The numbered strings of a language file's bytes: the first line loses its first three bytes (the
 * byte-order mark), ";" lines and blank lines are skipped, a line with "=" fifth starts a key, other
 * lines continue the value before them. Values are UTF-8 ("##" becomes CR LF); a value that is not
 * valid UTF-8 is read as Windows-1252, whatever code page the file names for its users' files. A later key replaces an
 * earlier one in place.
 */
QList<TMgLangItem> ParseLanguageFile(const QByteArray& bytes);

/** Every "%1" (in any case) replaced by values[0], then every "%2" by values[1], and so on. */
QString FormatText(const QString& format, const QStringList& values);

/** Windows language identifier of a POSIX locale name such as "de_AT.UTF-8" or "sr_RS@latin"; 0 when unknown. */
int LanguageIdFromLocaleName(const QString& localeName);

/**
 * The user-interface language as the environment states it, in gettext's order: LC_ALL, else
 * LC_MESSAGES, else LANG names the locale; unless that locale is "C" or "POSIX", the first entry of
 * the colon-separated LANGUAGE list that is known wins over it. Unknown or unset gives 1033 (English).
 * getenv defaults to the process environment.
 */
int SystemUiLanguageId(const std::function<QString(const char*)>& getenv = {});

/**
 * The locale that goes with a language: the day names, dates and times of the user's own locale when
 * that is in the same language (and, for a specific identifier such as 2055, the same country), else
 * the language as written in the user's country where such a locale exists, else in the language's
 * main country. An unknown identifier keeps userLocale; the "C" locale, which writes seconds into
 * every time, is never the result: English (United States) stands in for it.
 */
QLocale LocaleForLanguage(int languageId, const QLocale& userLocale);

/** The start-up language for a system identifier: any English (low byte 9) becomes plain English, 9. */
int StartupLanguageId(int systemLanguageId);

/** One item of the language menu. */
struct LanguageMenuItem {
    QString Caption;
    int LanguageId = 0; // the item's tag
    bool Checked = false;
};

/**
 * The translation state of the program: the listed language files, the current language identifier
 * and the loaded strings. One object, created at start-up before any window and passed to them.
 */
class TMgLang final
{
public:
    /** Lists the files of languagesFolder and sets CurrentLanguageId from the system's language. */
    TMgLang(const QString& languagesFolder, int systemUiLanguageId);

    QString LanguagesFolder() const { return m_languagesFolder; }
    const QList<TMgLangListItem>& LanguageList() const { return m_languageList; }

    int CurrentLanguageId() const { return m_currentLanguageId; }
    void SetCurrentLanguageId(int languageId) { m_currentLanguageId = languageId; }

    /**
     * Index into LanguageList of the entry for CurrentLanguageId, else of the entry for its low byte
     * (a neutral file serves every variant, and CurrentLanguageId becomes that low byte); else -1.
     */
    int FindCurrentLanguage();

    /**
     * Replaces the strings: English first (from en.txt when force, built in otherwise), then the file
     * "<name>.txt" key by key. A missing, unreadable or oversized file leaves what was loaded before it.
     */
    void LoadLanguage(const QString& name, bool force);

    /** Start-up: the saved identifier (Data.ini "Language") picks the file; English built-ins when none fits. */
    void LoadStartupLanguage(int savedLanguageId);
    /** Language menu choice: the file for languageId, or en.txt when none fits. The caller re-translates and saves. */
    void ChooseLanguage(int languageId);
    /** Items of the language menu; empty means the menu is hidden. */
    QList<LanguageMenuItem> LanguageMenuItems() const;

    QString LanguageName() const { return m_languageName; }
    /** The Windows language identifier of the loaded texts: that of the listed file, 9 for English. */
    int LoadedLanguageId() const;
    /**
     * The locale of the loaded texts, so that day names and dates are in the language of the captions
     * around them: LocaleForLanguage of LoadedLanguageId and the system's locale.
     */
    QLocale Locale() const;
    /**
     * The 8-bit code page of settings and backup files that are not UTF-8: the one the loaded file names
     * (1002=), else that of CurrentLanguageId. Loading a language makes it the UserTextCodePage.
     */
    int CodePage() const;
    const QList<TMgLangItem>& Items() const { return m_items; }
    bool HasText(int key) const;
    QString GetText(int key, const QString& defaultText) const;
    QString GetText(LangText text) const { return GetText(text.key, text.English()); }

    /** Translation of "(None)" as the sound list shows it; refreshed when the language is applied. */
    QString NoneText() const { return m_noneText; }
    void UpdateNoneText() { m_noneText = GetText(Text::NoSound); }

private:
    void loadFile(const QString& name);
    void useCodePage();

    QString m_languagesFolder;
    QList<TMgLangListItem> m_languageList;
    int m_currentLanguageId = EnglishLanguageId;
    QString m_languageName = QStringLiteral("en");
    int m_namedCodePage = 0; // 1002= of the loaded file; 0 when it names none
    QList<TMgLangItem> m_items;
    QString m_noneText = Text::NoSound.English();
};
