#include "x_session.h"

#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include "tools/valgrind/wm_close.h"

namespace koma::xtest {

XServer::XServer() {
    // -displayfd lets the server pick a free display number and tell us which.
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return;
    }
    xvfb_.setProgram(QStringLiteral("Xvfb"));
    xvfb_.setArguments({QStringLiteral("-displayfd"), QString::number(pipe_fds[1]),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
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
    const QByteArray ids =
        Run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
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
    const unsigned long id = window.toULong(&number);
    return number && x11::RequestWindowClose(display_.toLatin1().constData(), id);
}

QString XServer::WaitForWindow(const QString& name, int timeout_ms) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout_ms) {
        const QByteArray ids =
            Run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--name"), QStringLiteral("^") + name + QStringLiteral("$")});
        const QList<QByteArray> lines = ids.trimmed().split('\n');
        if (!lines.isEmpty() && !lines.first().isEmpty()) {
            return QString::fromLatin1(lines.first());
        }
        QThread::msleep(100);
    }
    return {};
}

Game::Game(const XServer& x, const QStringList& arguments, bool with_music,
           const QStringList& environment) {
    if (with_music) {
        for (const char* name : {"koma.mid", "一等賞.wav"}) {
            const QString file = QString::fromUtf8(name);
            QFile::copy(QStringLiteral(KOMA_ASSETS_DIR "/") + file, folder_.filePath(file));
        }
    }
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
    for (const QString& setting : environment) {
        const qsizetype equals = setting.indexOf(QLatin1Char('='));
        env.insert(setting.left(equals), setting.mid(equals + 1));
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(folder_.path());
    process_.start(QStringLiteral(KOMA_BINARY), arguments);
    process_.waitForStarted(5000);
}

Game::~Game() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

}  // namespace koma::xtest
