#pragma once

#include "ProfileDocument.h"
#include "SettingsKeys.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>
#include <sys/types.h>

/** A write that the file system refused; the message names the file and the reason. */
class AppIniWriteError final : public std::runtime_error
{
public:
    explicit AppIniWriteError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

/** A window's bounds and state as the placement keys store them. */
struct FormGeometry {
    int top = 0;
    int left = 0;
    int height = 0;
    int width = 0;
    bool maximized = false; // restore: the state to apply; save: maximized or minimized
};

/**
 * The settings store: every setting and the alarm list in Data.ini, section "Main". Values are
 * read when needed (the file is re-read when it changed on disk) and every write replaces the
 * file atomically at once, so there is nothing to flush and a crash never leaves half a file.
 * Writes that the file system refuses throw AppIniWriteError.
 */
class TAppIni final
{
public:
    // A Data.ini larger than this is neither read nor overwritten: reading it would take hundreds of
    // megabytes, and overwriting what was not read would destroy it. Written lists stay far below it.
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
    // The most items a list reads or writes; a count above it in the file reads as this many.
    static constexpr int kMaxListItems = 50000;
    // A temporary file of a save older than this was left by a save that never finished.
    static constexpr int kAbandonedTempFileSecs = 600;

    TAppIni(const QString& exeFolder, const QString& soundsFolder);

    /** A different path releases the previous file; a non-empty one opens that file. */
    void SetFileName(const QString& path);
    QString FileName() const { return m_fileName; }

    bool ReadBool(const QString& key, bool defaultValue) const;
    int ReadInteger(const QString& key, int defaultValue) const;
    QString ReadString(const QString& key, const QString& defaultValue) const;
    void WriteBool(const QString& key, bool value);
    void WriteInteger(const QString& key, int value);
    void WriteString(const QString& key, const QString& value);

    bool Read(BoolSetting setting) const;
    int Read(IntSetting setting) const;
    int Read(IntSetting setting, int defaultValue) const;
    void Write(BoolSetting setting, bool value);
    void Write(IntSetting setting, int value);

    /**
     * Count and items in one replacement of the file; item keys beyond a shorter count stay in the file.
     * More than kMaxListItems items, or a file that would grow beyond kMaxFileBytes, are refused.
     */
    void WriteList(const QString& listName, const QStringList& items);
    QStringList ReadList(const QString& listName) const;
    void WriteList(ListSetting list, const QStringList& items) { WriteList(QString::fromUtf16(list.name), items); }
    QStringList ReadList(ListSetting list) const { return ReadList(QString::fromUtf16(list.name)); }

    /**
     * Saves a window's placement under className + "Top", "Left", "Height", "Width", "State".
     * A maximized or minimized window writes only State = 1. Failures are ignored.
     */
    void SaveFormGeometry(const QString& className, const FormGeometry& current, bool positionOnly,
                          bool hasMaximizeButton);
    /** The placement to apply, with the window's current values as defaults for absent keys. */
    FormGeometry RestoreFormGeometry(const QString& className, const FormGeometry& current, bool positionOnly,
                                     bool hasMaximizeButton) const;

    /** Whether the system lets timers wake the computer; answered by the platform layer. */
    bool WakeTimersAllowed() const { return m_wakeTimersAllowed ? m_wakeTimersAllowed() : true; }
    void SetWakeTimersAllowedQuery(std::function<bool()> query) { m_wakeTimersAllowed = std::move(query); }

    QString ExeFolder() const { return m_exeFolder; }
    QString SoundsFolder() const { return m_soundsFolder; }

private:
    struct FileStamp {
        qint64 size = -1;
        qint64 modifiedNs = -1;
        ino_t inode = 0;
        bool regular = true; // a missing file counts as regular: it is created by the first write
        bool operator==(const FileStamp&) const = default;
    };
    using KeyValues = QList<std::pair<QString, QString>>;

    void writeValues(const KeyValues& values);
    const ProfileDocument& document() const;
    FileStamp stampOfFile() const;

    QString m_exeFolder;
    QString m_soundsFolder;
    QString m_fileName;
    mutable ProfileDocument m_document;
    mutable FileStamp m_stamp;
    mutable QString m_refusal; // why the file on disk is neither read nor written; empty when it is used
    std::function<bool()> m_wakeTimersAllowed;
};

/** Integer text as the profile functions read it: optional sign, decimal or 0x hexadecimal, 32 bits. */
std::optional<int> ParseProfileInteger(const QString& text);
