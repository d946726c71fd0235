#include "app/display.h"

#include <QByteArray>
#include <QDir>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QString>

#include <cstring>

#include <cerrno>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvane {

namespace {

// Whether a server listens on the Unix socket `path` ('@' first: in the abstract namespace).
bool answersOnSocket(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (path.startsWith('@'))
        address.sun_path[0] = '\0';
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
    const bool answered =
        fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    if (fd >= 0)
        close(fd);
    return answered;
}

// Connects `fd` to `address` within `milliseconds`: a host that drops the packets must not
// hold the program up.
bool connectsWithin(int fd, const sockaddr* address, socklen_t length, int milliseconds) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return false;
    if (connect(fd, address, length) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    pollfd pending{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    return poll(&pending, 1, milliseconds) == 1 &&
           getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

constexpr int kConnectTimeoutMs = 3000;

bool answersOnTcp(const QByteArray& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return false;
    bool answered = false;
    for (addrinfo* at = found; at && !answered; at = at->ai_next) {
        const int fd = socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
        answered = fd >= 0 && connectsWithin(fd, at->ai_addr, at->ai_addrlen, kConnectTimeoutMs);
        if (fd >= 0)
            close(fd);
    }
    freeaddrinfo(found);
    return answered;
}

bool waylandAnswers(const QByteArray& display) {
    if (display.startsWith('/'))
        return answersOnSocket(display);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && answersOnSocket(runtime + '/' + display);
}

// DISPLAY is [host]:number[.screen]; a local one listens on /tmp/.X11-unix/X<number>.
bool xServerAnswers(const QByteArray& display) {
    static const QRegularExpression form(QStringLiteral("^(.*):(\\d+)(\\.\\d+)?$"));
    const QRegularExpressionMatch parts = form.match(QString::fromLocal8Bit(display));
    if (!parts.hasMatch())
        return true; // a form of its own: the toolkit may know it
    const QByteArray host = parts.captured(1).toLocal8Bit();
    const int number = parts.captured(2).toInt();
    if (host.isEmpty() || host == "unix") {
        const QByteArray socket = "/tmp/.X11-unix/X" + QByteArray::number(number);
        return answersOnSocket('@' + socket) || answersOnSocket(socket);
    }
    return answersOnTcp(host, 6000 + number);
}

} // namespace

QString displayProblem() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return {};
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const bool waylandThere =
        !wayland.isEmpty() && !platform.startsWith("xcb") && waylandAnswers(wayland);
    const bool waylandPlugin =
        !QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"))
             .entryList({QStringLiteral("libqwayland-*.so")})
             .isEmpty();
    if (waylandThere && waylandPlugin)
        return {};
    const QByteArray x = qgetenv("DISPLAY");
    if (!x.isEmpty() && !platform.startsWith("wayland") && xServerAnswers(x))
        return {};
    if (waylandThere)
        return QStringLiteral("this Wayland session has no X server, and Qt's Wayland plugin is "
                              "not installed: install the package qt6-wayland, or use 'corvane "
                              "convert'");
    return QStringLiteral("no display found; start it from a desktop session (or under xvfb-run "
                          "on a machine without one), or use 'corvane convert'");
}

} // namespace corvane
