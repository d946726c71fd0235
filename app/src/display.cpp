#include "app/display.h"

#include <QByteArray>
#include <QDir>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <cerrno>

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
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
    if (fd >= 0) // a socket only tried: nothing is lost when closing it fails
        (void)close(fd);
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
        if (fd >= 0) // a socket only tried: nothing is lost when closing it fails
            (void)close(fd);
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

// What the X server at `display` answers a connection of this user's: a null text when it lets
// it in (or cannot be asked: no libxcb, which the toolkit would need too), else its reason
// ("Authorization required, ...", or empty when it gave none).
QString xServerRefusal(const QByteArray& display) {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb)
        return {};
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connectTo = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    QString refusal;
    if (connectTo && hasError && disconnect) {
        // libxcb writes the server's reason to standard error: it becomes part of our line.
        int said[2] = {-1, -1};
        const int kept = dup(STDERR_FILENO);
        const bool captured = kept >= 0 && pipe2(said, O_CLOEXEC | O_NONBLOCK) == 0 &&
                              dup2(said[1], STDERR_FILENO) >= 0;
        void* connection = connectTo(display.constData(), nullptr);
        const bool refused = hasError(connection) != 0;
        disconnect(connection);
        // Standard error comes back; should that fail, what the program says there next is
        // lost with the pipe, and the box still tells.
        if (kept >= 0) {
            (void)dup2(kept, STDERR_FILENO);
            (void)close(kept);
        }
        QByteArray reason;
        char chunk[512];
        for (ssize_t n; captured && (n = read(said[0], chunk, sizeof chunk)) > 0;)
            reason.append(chunk, n);
        for (int end : said)
            if (end >= 0) // a pipe read to its end
                (void)close(end);
        if (refused)
            refusal = QString::fromLocal8Bit(reason).simplified();
    }
    dlclose(xcb);
    return refusal;
}

QString userName() {
    const passwd* user = getpwuid(getuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("$USER");
}

const QString kElse = QStringLiteral(", or use 'corvane convert'");

// The toolkit's messages while it starts, held back: a start that fails says one line of ours.
QtMessageHandler g_previousHandler = nullptr;
QStringList g_held;

QString heldMatch(const QString& pattern) {
    const QRegularExpression form(pattern);
    for (const QString& message : g_held)
        if (const QRegularExpressionMatch found = form.match(message); found.hasMatch())
            return found.captured(1);
    return {};
}

// Why the toolkit could not start, from what it said, in a line for the user.
QString toolkitFailure(const QString& fatal) {
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (const QString plugin =
            heldMatch(QStringLiteral("Could not find the Qt platform plugin \"([^\"]*)\""));
        !plugin.isEmpty())
        return platform.isEmpty()
                   ? QStringLiteral("Qt has no platform plugin \"%1\": reinstall the package "
                                    "libqt6gui6")
                             .arg(plugin) +
                         kElse
                   : QStringLiteral("Qt has no platform plugin \"%1\" (QT_QPA_PLATFORM=%2): "
                                    "unset QT_QPA_PLATFORM")
                             .arg(plugin, platform) +
                         kElse;
    if (const QString display = heldMatch(QStringLiteral("could not connect to display (.*)$"));
        !display.isEmpty())
        return QStringLiteral("the display %1 refused the connection: start Corvane as the user "
                              "of that desktop session")
                   .arg(display) +
               kElse;
    if (const QString plugin =
            heldMatch(QStringLiteral("Could not load the Qt platform plugin \"([^\"]*)\""));
        !plugin.isEmpty())
        return QStringLiteral("Qt's platform plugin \"%1\" could not start: start Corvane from "
                              "a desktop session")
                   .arg(plugin) +
               kElse;
    return QStringLiteral("the windows cannot be shown: ") + fatal.section(u'\n', 0, 0) + kElse;
}

void holdMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        g_held << qFormatLogMessage(type, context, message);
        return;
    }
    g_held << message;
    // The status says it too when the line cannot be written.
    (void)std::fprintf(stderr, "corvane: %s\n", toolkitFailure(message).toUtf8().constData());
    (void)std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

void holdToolkitMessages() {
    g_previousHandler = qInstallMessageHandler(holdMessage);
}

void releaseToolkitMessages() {
    qInstallMessageHandler(g_previousHandler);
    for (const QString& message : std::exchange(g_held, {}))
        (void)std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData()); // or lost
}

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
    if (!x.isEmpty() && !platform.startsWith("wayland") && xServerAnswers(x)) {
        const QString refusal = xServerRefusal(x);
        if (refusal.isNull())
            return {};
        return QStringLiteral("the X server at DISPLAY=%1 refused the connection%2: start Corvane "
                              "as the user of that desktop session, or let this user in from it "
                              "with 'xhost +SI:localuser:%3'")
                   .arg(QString::fromLocal8Bit(x),
                        refusal.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(refusal),
                        userName()) +
               kElse;
    }
    if (waylandThere)
        return QStringLiteral("this Wayland session has no X server, and Qt's Wayland plugin is "
                              "not installed: install the package qt6-wayland") +
               kElse;
    QStringList tried;
    if (!x.isEmpty())
        tried << QStringLiteral("DISPLAY=") + QString::fromLocal8Bit(x);
    if (!wayland.isEmpty())
        tried << QStringLiteral("WAYLAND_DISPLAY=") + QString::fromLocal8Bit(wayland);
    return QStringLiteral("no display found: ") +
           (tried.isEmpty()
                ? QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set")
                : QStringLiteral("nothing answers at ") + tried.join(QStringLiteral(" nor at "))) +
           QStringLiteral("; start Corvane from a desktop session (or under xvfb-run on a "
                          "machine without one)") +
           kElse;
}

} // namespace corvane
