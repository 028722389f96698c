// A second process for the single-instance tests, so that copies really start side by side.
//   claim <exePath>                        prints "ready", waits for a line on stdin, then claims: as the
//                                          running copy prints "primary" and every request it receives,
//                                          and ends on Exit or when stdin closes; otherwise sends Show
//                                          and prints "secondary sent" or "secondary unsent".
//   squat <socketName>                     holds the abstract name without answering; ends when stdin closes.
//   raw-send <socketName> <m> <p1> <p2>    sends a request to the name without checking who holds it.
#include "linux/LinuxInstanceChannel.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void Say(const std::string& line) {
    std::cout << line << std::endl; // flushes: the test reads line by line
}

sockaddr_un Address(const std::string& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

void QuitWhenStdinCloses(QCoreApplication& app) {
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            notifier->setEnabled(false);
            app.quit();
        }
    });
}

int Claim(QCoreApplication& app, const std::string& exePath) {
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

int Squat(QCoreApplication& app, const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = Address(name, length);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
        Say("failed");
        return 1;
    }
    Say("bound");
    QuitWhenStdinCloses(app);
    return app.exec();
}

int RawSend(const std::string& name, int message, int param1, int param2) {
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

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "claim" && argc == 3)
        return Claim(app, argv[2]);
    if (mode == "squat" && argc == 3)
        return Squat(app, argv[2]);
    if (mode == "raw-send" && argc == 6)
        return RawSend(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    std::fprintf(stderr, "usage: see the comment at the top of instance_helper.cpp\n");
    return 2;
}
