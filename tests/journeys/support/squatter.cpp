// Holds local socket names the way a hostile user of the same machine would: bound and listening,
// until its standard input closes. Names starting with "@" are abstract, others are paths (their
// folder is made first when it is missing).
// Prints "held NAME" or "refused NAME: reason" for each, then "ready".
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    // Changing users cleared the parent-death signal; the test's end must still end this.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return 1;
    std::vector<int> held;
    std::vector<std::string> files; // path names are files that stay after the socket is closed
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socklen_t length = 0;
        if (name.size() < 2 || name.size() >= sizeof address.sun_path) {
            std::printf("refused %s: bad name\n", name.c_str());
            continue;
        }
        if (name[0] == '@') {
            std::memcpy(address.sun_path + 1, name.data() + 1, name.size() - 1);
            length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        } else {
            // The folder may be one the program would make for itself: made first, it is ours.
            const std::string folder = name.substr(0, name.rfind('/'));
            if (!folder.empty())
                ::mkdir(folder.c_str(), 0755);
            std::memcpy(address.sun_path, name.data(), name.size());
            length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
        }
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
            std::printf("refused %s: %s\n", name.c_str(), std::strerror(errno));
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        held.push_back(fd);
        if (name[0] != '@')
            files.push_back(name);
        std::printf("held %s\n", name.c_str());
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    for (int fd : held)
        ::close(fd);
    for (const std::string& file : files)
        ::unlink(file.c_str());
    return 0;
}
