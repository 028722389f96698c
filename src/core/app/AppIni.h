#pragma once

#include "core/app/ProfileDocument.h"
#include "core/app/SettingsKeys.h"

#include <QString>
#include <QStringList>

#include <functional>

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
 * A write never throws: a refused one returns false, leaves the values in memory as they were and is
 * reported with its reason to the write-failure handler, so no caller can let a refusal escape.
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
    // Each write returns true when the file was replaced, false when it was refused.
    bool WriteBool(const QString& key, bool value);
    bool WriteInteger(const QString& key, int value);
    bool WriteString(const QString& key, const QString& value);

    bool Read(BoolSetting setting) const;
    int Read(IntSetting setting) const;
    int Read(IntSetting setting, int defaultValue) const;
    bool Write(BoolSetting setting, bool value);
    bool Write(IntSetting setting, int value);

    /**
     * Count and items in one replacement of the file; item keys beyond a shorter count stay in the file.
     * More than kMaxListItems items, or a file that would grow beyond kMaxFileBytes, are refused.
     */
    bool WriteList(const QString& listName, const QStringList& items);
    QStringList ReadList(const QString& listName) const;
    bool WriteList(ListSetting list, const QStringList& items)
    {
        return WriteList(QString::fromUtf16(list.name), items);
    }
    QStringList ReadList(ListSetting list) const { return ReadList(QString::fromUtf16(list.name)); }

    /**
     * Saves a window's placement under className + "Top", "Left", "Height", "Width", "State".
     * A maximized or minimized window writes only State = 1. Returns false when the write was refused.
     */
    bool SaveFormGeometry(const QString& className, const FormGeometry& current, bool positionOnly,
                          bool hasMaximizeButton);
    /** The placement to apply, with the window's current values as defaults for absent keys. */
    FormGeometry RestoreFormGeometry(const QString& className, const FormGeometry& current, bool positionOnly,
                                     bool hasMaximizeButton) const;

    /**
     * Receives the readable reason of every refused write (the file and what the system said). Installed
     * once by the program's owner; without one a refusal is only returned and kept in LastWriteError.
     */
    void SetWriteFailureHandler(std::function<void(const QString& message)> handler)
    {
        m_writeFailed = std::move(handler);
    }
    /** The reason the last write was refused; empty until one is, and again after a write succeeds. */
    QString LastWriteError() const { return m_lastWriteError; }

    QString ExeFolder() const { return m_exeFolder; }
    QString SoundsFolder() const { return m_soundsFolder; }

private:
    struct FileStamp {
        qint64 size = -1;
        qint64 modifiedMs = -1;
        qint64 changedMs = -1; // status change: every write, rename and change of permissions
        qint64 bornMs = -1;    // creation, where the file system records it
        bool regular = true;   // a missing file counts as regular: it is created by the first write
        int codePage = 0;      // the code page it was read in unless it is UTF-8: a new language re-reads it
        bool operator==(const FileStamp&) const = default;
    };
    using KeyValues = QList<std::pair<QString, QString>>;

    bool writeValues(const KeyValues& values);
    bool refuse(const QString& message);
    const ProfileDocument& document() const;
    FileStamp stampOfFile() const;

    QString m_exeFolder;
    QString m_soundsFolder;
    QString m_fileName;
    mutable ProfileDocument m_document;
    mutable FileStamp m_stamp;
    mutable QString m_refusal; // why the file on disk is neither read nor written; empty when it is used
    std::function<void(const QString&)> m_writeFailed;
    QString m_lastWriteError;
};

/** Integer text as the profile functions read it: optional sign, decimal or 0x hexadecimal, 32 bits. */
std::optional<int> ParseProfileInteger(const QString& text);
