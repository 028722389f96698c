#pragma once

#include <QString>

/**
 * A fault of the disk under a data folder, undone when the object goes. As root, read-only means the
 * immutable attribute (root ignores permission bits) and a full disk is a small tmpfs mounted over the
 * folder; as another user read-only is the permission bits, and a full disk cannot be made.
 */
class DiskFault final
{
public:
    enum class Kind { FileReadOnly, FolderReadOnly, FileSystemFull };

    /** A folder for Data.ini on which the fault can be made; for a full disk, a fresh small tmpfs. */
    explicit DiskFault(Kind kind, const QString& folder);
    ~DiskFault();
    DiskFault(const DiskFault&) = delete;
    DiskFault& operator=(const DiskFault&) = delete;

    /** Empty when the fault can be made here, else why not (the test is then skipped). */
    QString Unavailable() const { return m_unavailable; }
    /** Makes the fault; false (with why in Unavailable) when the system refused. */
    bool Apply();
    /** Takes it away again. */
    void Remove();

private:
    Kind m_kind;
    QString m_folder;
    QString m_file;
    QString m_filler;
    QString m_unavailable;
    bool m_mounted = false;
    bool m_applied = false;
};
