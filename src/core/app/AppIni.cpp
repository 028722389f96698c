#include "core/app/AppIni.h"

#include "core/mglib/TextFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kSection = QStringLiteral("Main");

QString keyName(const char16_t* name)
{
    return QString::fromUtf16(name);
}

QString tooLarge(const QString& path)
{
    return QStringLiteral("\"%1\" is larger than %2 MB, so it was not read and is not overwritten. Move it away "
                          "to start with fresh settings.")
        .arg(path)
        .arg(TAppIni::kMaxFileBytes / (1024 * 1024));
}

} // namespace

std::optional<int> ParseProfileInteger(const QString& text)
{
    QStringView digits = QStringView(text).trimmed();
    bool negative = false;
    if (digits.startsWith(u'-') || digits.startsWith(u'+')) {
        negative = digits.front() == u'-';
        digits = digits.mid(1);
    }
    int base = 10;
    if (digits.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        digits = digits.mid(2);
    }
    if (digits.isEmpty() || digits.front() == u'+' || digits.front() == u'-')
        return std::nullopt;
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok, base);
    const qlonglong signedValue = negative ? -value : value;
    if (!ok || signedValue < std::numeric_limits<int>::min() || signedValue > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(signedValue);
}

TAppIni::TAppIni(const QString& exeFolder, const QString& soundsFolder)
    : m_exeFolder(exeFolder)
    , m_soundsFolder(soundsFolder)
{}

void TAppIni::SetFileName(const QString& path)
{
    if (path == m_fileName)
        return;
    m_fileName = path;
    m_document = ProfileDocument();
    m_stamp = FileStamp();
    m_refusal.clear();
    // A save cut short by a crash leaves its temporary file; the next start clears them away.
    if (!path.isEmpty())
        RemoveAbandonedTempFiles(path, kAbandonedTempFileSecs);
}

TAppIni::FileStamp TAppIni::stampOfFile() const
{
    FileStamp stamp;
    stamp.codePage = UserTextCodePage();
    if (m_fileName.isEmpty())
        return stamp;
    const QFileInfo info(m_fileName);
    if (!info.exists())
        return stamp;
    // A copy put in place of Data.ini with its size and modification time kept (cp -p, a restored
    // backup) still has a new status change time, and a new creation time where that is recorded.
    const auto msecs = [&info](QFileDevice::FileTime time) { return info.fileTime(time).toMSecsSinceEpoch(); };
    return {info.size(),
            msecs(QFileDevice::FileModificationTime),
            msecs(QFileDevice::FileMetadataChangeTime),
            msecs(QFileDevice::FileBirthTime),
            info.isFile(),
            stamp.codePage};
}

const ProfileDocument& TAppIni::document() const
{
    // Re-read only when the file changed on disk, so a hand edit is seen without reading on every call.
    const FileStamp stamp = stampOfFile();
    if (stamp == m_stamp)
        return m_document;
    m_document = ProfileDocument();
    m_refusal.clear();
    // Only a regular file is read: a pipe would block the start for ever, a device would never end.
    if (!stamp.regular) {
        m_refusal =
            QStringLiteral("\"%1\" is not a regular file; it was not read and is left as it is.").arg(m_fileName);
    } else if (stamp.size > kMaxFileBytes) {
        m_refusal = tooLarge(m_fileName);
    } else if (QFile file(m_fileName); file.open(QIODevice::ReadOnly)) {
        // Bounded even when the file grows between the size check and the read.
        const QByteArray bytes = file.read(qMin(file.size(), kMaxFileBytes) + 1);
        if (bytes.size() > kMaxFileBytes)
            m_refusal = tooLarge(m_fileName);
        else
            m_document = ProfileDocument(DecodeUserText(bytes));
    } else if (stamp.size >= 0) {
        m_refusal =
            QStringLiteral("\"%1\" cannot be read (%2); it is not overwritten.").arg(m_fileName, file.errorString());
    }
    m_stamp = stamp;
    return m_document;
}

QString TAppIni::ReadString(const QString& key, const QString& defaultValue) const
{
    return document().value(kSection, key).value_or(defaultValue);
}

int TAppIni::ReadInteger(const QString& key, int defaultValue) const
{
    const auto text = document().value(kSection, key);
    return text ? ParseProfileInteger(*text).value_or(defaultValue) : defaultValue;
}

bool TAppIni::ReadBool(const QString& key, bool defaultValue) const
{
    return ReadInteger(key, defaultValue) != 0;
}

bool TAppIni::WriteString(const QString& key, const QString& value)
{
    return writeValues({{key, value}});
}
bool TAppIni::WriteInteger(const QString& key, int value)
{
    return WriteString(key, QString::number(value));
}
bool TAppIni::WriteBool(const QString& key, bool value)
{
    return WriteInteger(key, value ? 1 : 0);
}

bool TAppIni::Read(BoolSetting setting) const
{
    return ReadBool(keyName(setting.name), setting.defaultValue);
}
int TAppIni::Read(IntSetting setting) const
{
    return ReadInteger(keyName(setting.name), setting.defaultValue);
}
int TAppIni::Read(IntSetting setting, int defaultValue) const
{
    return ReadInteger(keyName(setting.name), defaultValue);
}
bool TAppIni::Write(BoolSetting setting, bool value)
{
    return WriteBool(keyName(setting.name), value);
}
bool TAppIni::Write(IntSetting setting, int value)
{
    return WriteInteger(keyName(setting.name), value);
}

bool TAppIni::refuse(const QString& message)
{
    m_lastWriteError = message;
    if (m_writeFailed)
        m_writeFailed(message);
    return false;
}

bool TAppIni::writeValues(const KeyValues& values)
{
    if (m_fileName.isEmpty())
        return refuse(QStringLiteral("The settings file has no name."));
    ProfileDocument changed = document();
    if (!m_refusal.isEmpty())
        return refuse(m_refusal);
    for (const auto& [key, value] : values)
        changed.setValue(kSection, key, value);
    const QByteArray bytes = changed.toText().toUtf8();
    if (bytes.size() > kMaxFileBytes)
        return refuse(QStringLiteral("The settings would take more than %1 MB in \"%2\"; they were not saved.")
                          .arg(kMaxFileBytes / (1024 * 1024))
                          .arg(m_fileName));
    const QString error = WriteFileAtomically(m_fileName, bytes);
    if (!error.isEmpty())
        return refuse(error);
    m_document = std::move(changed);
    m_stamp = stampOfFile();
    m_lastWriteError.clear();
    return true;
}

bool TAppIni::WriteList(const QString& listName, const QStringList& items)
{
    if (items.size() > kMaxListItems)
        return refuse(
            QStringLiteral("The list has %1 items; at most %2 can be saved.").arg(items.size()).arg(kMaxListItems));
    KeyValues values;
    values.reserve(items.size() + 1);
    values.append({listName + QStringLiteral("ListCount"), QString::number(items.size())});
    for (qsizetype i = 0; i < items.size(); ++i)
        values.append({listName + QStringLiteral("List") + QString::number(i), items.at(i)});
    return writeValues(values);
}

QStringList TAppIni::ReadList(const QString& listName) const
{
    // A count is only as large as a saved list can be, whatever a damaged or hostile file says.
    const int count = qMin(ReadInteger(listName + QStringLiteral("ListCount"), 0), kMaxListItems);
    QStringList items;
    const ProfileDocument& doc = document();
    for (int i = 0; i < count; ++i)
        items.append(doc.value(kSection, listName + QStringLiteral("List") + QString::number(i)).value_or(QString()));
    return items;
}

bool TAppIni::SaveFormGeometry(const QString& className, const FormGeometry& current, bool positionOnly,
                               bool hasMaximizeButton)
{
    KeyValues values;
    if (positionOnly) {
        values = {{className + QStringLiteral("Top"), QString::number(current.top)},
                  {className + QStringLiteral("Left"), QString::number(current.left)}};
    } else if (current.maximized) {
        values = {{className + QStringLiteral("State"), QStringLiteral("1")}};
    } else {
        values = {{className + QStringLiteral("Top"), QString::number(current.top)},
                  {className + QStringLiteral("Left"), QString::number(current.left)}};
        if (hasMaximizeButton) {
            values.append({className + QStringLiteral("Height"), QString::number(current.height)});
            values.append({className + QStringLiteral("Width"), QString::number(current.width)});
        }
        values.append({className + QStringLiteral("State"), QStringLiteral("0")});
    }
    return writeValues(values);
}

FormGeometry TAppIni::RestoreFormGeometry(const QString& className, const FormGeometry& current, bool positionOnly,
                                          bool hasMaximizeButton) const
{
    FormGeometry result = current;
    const int state = ReadInteger(className + QStringLiteral("State"), current.maximized ? 1 : 0);
    if (!current.maximized) {
        result.top = ReadInteger(className + QStringLiteral("Top"), current.top);
        result.left = ReadInteger(className + QStringLiteral("Left"), current.left);
    }
    if (!positionOnly) {
        if (!current.maximized) {
            result.height = ReadInteger(className + QStringLiteral("Height"), current.height);
            result.width = ReadInteger(className + QStringLiteral("Width"), current.width);
        }
        result.maximized = state != 0 && hasMaximizeButton;
    }
    return result;
}
