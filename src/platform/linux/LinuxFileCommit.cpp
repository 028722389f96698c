#include "platform/FileCommit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string reason(int error)
{
    return std::strerror(error);
}

} // namespace

std::string SyncFileToDisk(int fd)
{
    return ::fsync(fd) == 0 ? std::string() : reason(errno);
}

std::string ReplaceFileAtomically(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? std::string() : reason(errno);
}

std::string SyncFolderToDisk(const std::string& folder)
{
    // A rename is an entry of the folder: without this, a power cut can bring back the old name.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return reason(errno);
    const std::string error = ::fsync(fd) == 0 ? std::string() : reason(errno);
    ::close(fd);
    return error;
}
