// A second process for the single-instance tests, so that copies really start side by side.
//   claim <exePath>                        prints "ready", waits for a line on stdin, then claims: as the
//                                          running copy prints "primary" and every request it receives,
//                                          and ends on Exit or when stdin closes; otherwise sends Show
//                                          and prints "secondary sent" or "secondary unsent".
//   squat <target>...                      takes every target, prints "bound", ends when stdin closes:
//                                          @name binds that abstract socket name, lock:<path> creates and
//                                          locks a file, any other path binds a socket file there (its
//                                          folder created open to all first).
//   raw-send <socket> <m> <p1> <p2>        sends a request to a socket file (or @name) without checking
//                                          who holds it; prints "sent" or "failed".
#include "platform/linux/LinuxInstanceChannel.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

void Say(const std::string& line)
{
    std::cout << line << std::endl; // flushes: the test reads line by line
}

// `target` is a socket file, or an abstract name after '@'.
sockaddr_un Address(const std::string& target, socklen_t& length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, target.data(), std::min(target.size(), sizeof address.sun_path - 1));
    if (target.front() == '@')
        address.sun_path[0] = '\0';
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + target.size() + (target.front() == '@' ? 0 : 1));
    return address;
}

void QuitWhenStdinCloses(QCoreApplication& app)
{
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            notifier->setEnabled(false);
            app.quit();
        }
    });
}

int Claim(QCoreApplication& app, const std::string& exePath)
{
    Say("ready");
    std::string go;
    std::getline(std::cin, go);
    const auto channel = LinuxInstanceChannel::Claim(exePath, [&app](int message) {
        Say("message " + std::to_string(message));
        if (message == InstanceMessage::Exit) {
            Say("exit");
            app.quit();
        }
    });
    if (!channel) {
        const bool sent = LinuxInstanceChannel::Send(exePath, InstanceMessage::Show, InstanceMessage::Param1,
                                                     InstanceMessage::Param2);
        Say(sent ? "secondary sent" : "secondary unsent");
        return 0;
    }
    Say("primary");
    QuitWhenStdinCloses(app);
    return app.exec();
}

bool Take(const std::string& target)
{
    if (target.rfind("lock:", 0) == 0) {
        const int fd = ::open(target.c_str() + 5, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    }
    if (target.front() != '@') {
        const std::string folder = target.substr(0, target.rfind('/'));
        ::mkdir(folder.c_str(), 0777);
        ::chmod(folder.c_str(), 0777);
    }
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = Address(target, length);
    return fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(fd, 4) == 0 &&
           (target.front() == '@' || ::chmod(target.c_str(), 0777) == 0);
}

int Squat(QCoreApplication& app, const std::vector<std::string>& targets)
{
    for (const std::string& target : targets) {
        if (target.empty() || !Take(target)) {
            Say("failed " + target);
            return 1;
        }
    }
    Say("bound");
    QuitWhenStdinCloses(app);
    return app.exec();
}

int RawSend(const std::string& name, int message, int param1, int param2)
{
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = Address(name, length);
    const std::array<std::int32_t, 3> packet{message, param1, param2};
    const bool sent = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                      ::send(fd, packet.data(), sizeof packet, MSG_NOSIGNAL) == sizeof packet;
    Say(sent ? "sent" : "failed");
    return sent ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "claim" && argc == 3)
        return Claim(app, argv[2]);
    if (mode == "squat" && argc >= 3)
        return Squat(app, std::vector<std::string>(argv + 2, argv + argc));
    if (mode == "raw-send" && argc == 6)
        return RawSend(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    std::fprintf(stderr, "usage: see the comment at the top of instance_helper.cpp\n");
    return 2;
}
