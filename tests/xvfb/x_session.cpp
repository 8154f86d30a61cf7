#include "x_session.h"

#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>

#include "support/solve_route.h"
#include "wm_client.h"

namespace koma::xtest {

XServer::XServer(QSize screen) {
    // -displayfd lets the server pick a free display number and tell us which.
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return;
    }
    xvfb_.setProgram(QStringLiteral("Xvfb"));
    xvfb_.setArguments({QStringLiteral("-displayfd"), QString::number(pipe_fds[1]),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        // Not reset whenever its last client leaves: a window manager that
                        // connects just then, while xprop looks for it, may die of it.
                        QStringLiteral("-noreset")});
    xvfb_.setChildProcessModifier([fd = pipe_fds[0]] { close(fd); });
    xvfb_.start();
    close(pipe_fds[1]);
    if (!xvfb_.waitForStarted(5000)) {
        close(pipe_fds[0]);
        return;
    }
    QByteArray number;
    char c = 0;
    while (read(pipe_fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(pipe_fds[0]);
    if (!number.isEmpty()) {
        display_ = QStringLiteral(":") + QString::fromLatin1(number);
    }
}

XServer::~XServer() {
    if (window_manager_.processId() > 0 && window_manager_.state() != QProcess::NotRunning) {
        kill(-static_cast<pid_t>(window_manager_.processId()), SIGTERM);
    }
    window_manager_.waitForFinished(5000);
    xvfb_.terminate();
    xvfb_.waitForFinished(5000);
}

QByteArray XServer::Run(const QString& program, const QStringList& arguments,
                        int timeout_ms) const {
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    client.setProcessEnvironment(env);
    client.start(program, arguments);
    client.waitForFinished(timeout_ms);
    return client.readAllStandardOutput();
}

QImage XServer::Screenshot() const {
    const QByteArray png =
        Run(QStringLiteral("import"),
            {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
    return QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
}

void XServer::Click(int x, int y, int button) const {
    Run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(x), QString::number(y),
         QStringLiteral("click"), QString::number(button)});
}

QStringList XServer::Windows(const QString& name) const {
    // The game's windows carry the name as title and as class: a window manager may give the
    // frames it makes the title of the window they hold (mutter from 44 on). xdotool matches
    // its one pattern against each field named, all of them with --all.
    const QByteArray ids =
        Run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
             QStringLiteral("--name"), QStringLiteral("--class"),
             QStringLiteral("^") + name + QStringLiteral("$")});
    QStringList windows;
    for (const QByteArray& line : ids.trimmed().split('\n')) {
        if (!line.isEmpty()) {
            windows << QString::fromLatin1(line);
        }
    }
    return windows;
}

bool XServer::RequestClose(const QString& window) const {
    bool number = false;
    const auto id = static_cast<std::uint32_t>(window.toULong(&number));
    const WmClient wm(display_);
    if (!number || id == 0 || !wm.ok()) {
        return false;
    }
    wm.RequestClose(id);
    return true;
}

QString XServer::WaitForAnotherWindow(const QString& other, int timeout_ms) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout_ms) {
        for (const QString& window : Windows(QStringLiteral("KOMA"))) {
            if (window != other) {
                return window;
            }
        }
        QThread::msleep(50);
    }
    return {};
}

bool XServer::WaitUntilGone(const QString& window, int timeout_ms) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout_ms) {
        if (!Windows(QStringLiteral("KOMA")).contains(window)) {
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

QStringList WindowManagerCommand(const QString& name) {
    // The GNOME, KDE and Xfce ones want a session bus (xfwm4 its settings daemon on it); on a
    // bare server they get a private one.
    if (name == QLatin1String("mutter")) {
        return {QStringLiteral("dbus-run-session"), name, QStringLiteral("--x11"),
                QStringLiteral("--replace")};
    }
    if (name == QLatin1String("kwin_x11") || name == QLatin1String("xfwm4")) {
        return {QStringLiteral("dbus-run-session"), name, QStringLiteral("--replace")};
    }
    if (name == QLatin1String("metacity")) {
        return {name, QStringLiteral("--replace")};
    }
    return {name};
}

bool XServer::StartWindowManager(QString& why, const QString& name) {
    const QStringList command = WindowManagerCommand(name);
    // On this server only, whatever desktop the caller runs in.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    window_manager_.setProcessEnvironment(env);
    window_manager_.setStandardOutputFile(QProcess::nullDevice());
    window_manager_.setStandardErrorFile(QProcess::nullDevice());
    // Its own process group: the bus daemon beside it ends with it.
    window_manager_.setChildProcessModifier([] { setsid(); });
    window_manager_.start(command.first(), command.mid(1));
    if (!window_manager_.waitForStarted(5000)) {
        why = name + QStringLiteral(" did not start (tools/install-deps.sh --tests installs it)");
        return false;
    }
    // It has taken over once it owns the screen's window-manager selection; a loaded machine may
    // take its time over it.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000) {
        if (Run(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                .contains("window id")) {
            return true;
        }
        if (window_manager_.state() == QProcess::NotRunning) {
            break;
        }
        QThread::msleep(50);
    }
    why = name + (window_manager_.state() == QProcess::NotRunning
                      ? QStringLiteral(" ended before it took over the screen")
                      : QStringLiteral(" did not take over the screen in 60 s"));
    return false;
}

void XServer::HoldWindowManager(bool held) const {
    if (window_manager_.processId() > 0) {
        kill(-static_cast<pid_t>(window_manager_.processId()), held ? SIGSTOP : SIGCONT);
    }
}

CpuLoad::CpuLoad(int loops) {
    for (int i = 0; i < loops; ++i) {
        auto loop = std::make_unique<QProcess>();
        loop->start(QStringLiteral("sh"),
                    {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
        loops_.push_back(std::move(loop));
    }
}

CpuLoad::~CpuLoad() {
    for (const auto& loop : loops_) {
        loop->kill();
        loop->waitForFinished(5000);
    }
}

QString XServer::WaitForWindow(const QString& name, int timeout_ms) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout_ms) {
        if (const QStringList windows = Windows(name); !windows.isEmpty()) {
            return windows.first();
        }
        QThread::msleep(100);
    }
    return {};
}

QProcessEnvironment GameEnvironment(const XServer& x) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.display());
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    // The window on this server at its own size and look, whatever the caller's desktop exports
    // (a Qt platform, scaling, style; a Wayland display).
    for (const QString& name : env.keys()) {
        if (name.startsWith(QLatin1String("QT_"))) {
            env.remove(name);
        }
    }
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

Game::Game(const XServer& x, const QStringList& arguments, bool with_music,
           const QStringList& environment, const QString& program) {
    if (with_music) {
        for (const char* name : {"koma.mid", "一等賞.wav"}) {
            const QString file = QString::fromUtf8(name);
            QFile::copy(QStringLiteral(KOMA_ASSETS_DIR "/") + file, folder_.filePath(file));
        }
    }
    QProcessEnvironment env = GameEnvironment(x);
    for (const QString& setting : environment) {
        const qsizetype equals = setting.indexOf(QLatin1Char('='));
        env.insert(setting.left(equals), setting.mid(equals + 1));
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(folder_.path());
    process_.start(program.isEmpty() ? QStringLiteral(KOMA_BINARY) : program, arguments);
    process_.waitForStarted(5000);
}

Game::~Game() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QStringList ClicksToSolveFromTheStart(QPoint client) {
    QStringList arguments;
    for (const Cell cell : koma::testing::ClicksOfTheSolve(StartLayout)) {
        arguments << QStringLiteral("mousemove")
                  << QString::number(client.x() + CellLeft(cell.x) + 47)
                  << QString::number(client.y() + CellTop(cell.y) + 47) << QStringLiteral("click")
                  << QStringLiteral("1");
    }
    return arguments;
}

}  // namespace koma::xtest
