#include "app/platform_choice.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

void XConnectionCloser::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);  // also frees a connection in the error state
}

PlatformChoice ChoosePlatform() {
    if (!Environment("QT_QPA_PLATFORM").empty()) {
        return {};
    }
    if (auto connection = ConnectToX()) {
        return {"xcb", "", std::move(connection)};
    }
    const std::string no_x = "no X server answers at DISPLAY " + Quoted(Environment("DISPLAY"));
    if (!WaylandAnswers()) {
        return {"",
                no_x + " and no Wayland display answers at WAYLAND_DISPLAY " +
                    Quoted(Environment("WAYLAND_DISPLAY")),
                nullptr};
    }
    if (!WaylandPluginInstalled()) {
        return {"", no_x + ", and Qt's Wayland support is not installed (package qt6-wayland)",
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

void SetDesktopIdentity() {
    QGuiApplication::setDesktopFileName(QStringLiteral("jp.koma.Koma"));
}

}  // namespace koma::app
