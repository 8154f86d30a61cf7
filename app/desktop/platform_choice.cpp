#include "app/desktop/platform_choice.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

namespace koma::app {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A server that is resetting, because its last client has just left, refuses connections for
// a moment: try a few times.
std::unique_ptr<xcb_connection_t, XConnectionCloser> ConnectToX() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::unique_ptr<xcb_connection_t, XConnectionCloser> connection(
            xcb_connect(nullptr, nullptr));
        if (xcb_connection_has_error(connection.get()) == 0) {
            return connection;
        }
        if (Environment("DISPLAY").empty()) {
            break;
        }
        usleep(100'000);
    }
    return nullptr;
}

// The socket path libwayland-client would connect to; empty when there is none to try.
std::string WaylandSocket() {
    std::string name = Environment("WAYLAND_DISPLAY");
    if (name.empty()) {
        name = "wayland-0";
    }
    if (name.front() == '/') {
        return name;
    }
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    return runtime.empty() ? std::string() : runtime + "/" + name;
}

bool WaylandAnswers() {
    const std::string path = WaylandSocket();
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

bool WaylandPluginInstalled() {
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty();
}

std::string Quoted(const std::string& value) {
    return value.empty() ? "unset" : "\"" + value + "\"";
}

std::string NoXServer() {
    return "no X server answers at DISPLAY " + Quoted(Environment("DISPLAY"));
}

std::string NoWayland() {
    return "no Wayland display answers at WAYLAND_DISPLAY " +
           Quoted(Environment("WAYLAND_DISPLAY"));
}

// A QT_QPA_PLATFORM the user set ("name[:options]", or several separated by ';') is left to Qt,
// unless every platform in it needs a display that does not answer: Qt would abort, after
// libwayland's own lines on stderr.
PlatformChoice CheckRequestedPlatform(const std::string& requested) {
    std::unique_ptr<xcb_connection_t, XConnectionCloser> x_connection;
    bool x_tried = false;
    std::string missing;
    std::istringstream entries(requested);
    std::string entry;
    while (std::getline(entries, entry, ';')) {
        const std::string name = entry.substr(0, entry.find(':'));
        std::string why;
        if (name == "xcb") {
            if (!x_tried) {
                x_connection = ConnectToX();
                x_tried = true;
            }
            why = x_connection ? "" : NoXServer();
        } else if (name.starts_with("wayland")) {
            why = WaylandAnswers() ? "" : NoWayland();
        }
        if (why.empty()) {
            return {"", "", std::move(x_connection)};
        }
        if (missing.find(why) == std::string::npos) {
            missing += (missing.empty() ? "" : " and ") + why;
        }
    }
    return {"", "QT_QPA_PLATFORM names " + Quoted(requested) + ", but " + missing, nullptr};
}

// What the start guard holds back while Qt starts its platform. Qt's handler is a plain
// function, so this lives in one place for the program's whole run.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
struct HeldMessages {
    std::mutex mutex;
    std::vector<HeldMessage> messages;
    QtMessageHandler handler_before = nullptr;
};
HeldMessages& Held() {
    static HeldMessages held;
    return held;
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        // Only the platform can fail this early; Qt would abort with a core dump.
        const std::string line = "koma: cannot open a window: Qt cannot start the platform " +
                                 Quoted(Environment("QT_QPA_PLATFORM")) +
                                 " that QT_QPA_PLATFORM names\n";
        std::fputs(line.c_str(), stderr);
        std::_Exit(1);
    }
    const std::lock_guard lock(Held().mutex);
    Held().messages.push_back({type, QByteArray(context.category), text});
}

}  // namespace

void XConnectionCloser::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);  // also frees a connection in the error state
}

PlatformChoice ChoosePlatform() {
    if (const std::string requested = Environment("QT_QPA_PLATFORM"); !requested.empty()) {
        return CheckRequestedPlatform(requested);
    }
    if (auto connection = ConnectToX()) {
        return {"xcb", "", std::move(connection)};
    }
    if (!WaylandAnswers()) {
        return {"", NoXServer() + " and " + NoWayland(), nullptr};
    }
    if (!WaylandPluginInstalled()) {
        return {"",
                NoXServer() + ", and Qt's Wayland support is not installed (package qt6-wayland)",
                nullptr};
    }
    return {"wayland", "", nullptr};
}

void ApplyPlatformChoice(const PlatformChoice& choice) {
    if (!choice.problem.empty()) {
        std::fprintf(stderr, "koma: cannot open a window: %s\n", choice.problem.c_str());
        std::exit(1);
    }
    if (!choice.platform.empty()) {
        qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(choice.platform));
    }
}

PlatformStartGuard::PlatformStartGuard() {
    Held().handler_before = qInstallMessageHandler(HoldMessage);
}

PlatformStartGuard::~PlatformStartGuard() {
    HeldMessages& held = Held();
    qInstallMessageHandler(held.handler_before);
    const std::lock_guard lock(held.mutex);
    for (const HeldMessage& message : held.messages) {
        const QMessageLogContext context(
            nullptr, 0, nullptr,
            message.category.isNull() ? nullptr : message.category.constData());
        held.handler_before(message.type, context, message.text);
    }
    held.messages.clear();
}

void SetDesktopIdentity() {
    QGuiApplication::setDesktopFileName(QStringLiteral(KOMA_APP_ID));
}

}  // namespace koma::app
