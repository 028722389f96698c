#pragma once

#include <QFile>
#include <QTemporaryDir>

/**
 * A copy of the program in a folder of its own. A copy in another folder is another program to the
 * single-instance rule, so tests that start this one never meet copies that other tests start from
 * the build folder at the same time. Readable and runnable by every user.
 */
class PrivateCopy final
{
public:
    explicit PrivateCopy(const QString& exe)
        : m_path(m_folder.filePath(QStringLiteral("larkbell")))
    {
        m_ok = m_folder.isValid() && QFile::copy(exe, m_path) &&
               QFile::setPermissions(m_folder.path(), QFile::Permissions(0x7755)) &&
               QFile::setPermissions(m_path, QFile::Permissions(0x7755));
    }
    bool Ok() const { return m_ok; }
    QString Path() const { return m_path; }

private:
    QTemporaryDir m_folder;
    QString m_path;
    bool m_ok = false;
};
