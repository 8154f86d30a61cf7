// The window while the sound server is stopped, for developers (tools/sound-probes/stall_probe.sh
// runs it against a private server): the real game plays its music in a private Xvfb, the server's
// processes are stopped (SIGSTOP), 3 s later the player completes the puzzle (or turns the
// sound off and on), and 5 s after the stop the server goes on. The window is pinged every
// 0.5 s for 13 s from the stop; one line tells how many pings it answered, how late, and when
// the notice showed (or how many boxes there were).
//
//     koma-stall-probe [--game PATH] --driver SDL_DRIVER --stop PID[,PID...] complete|toggle
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <map>

#include "xvfb/wm_client.h"
#include "xvfb/x_session.h"

namespace koma::xtest {
namespace {

constexpr qint64 kStopMs = 5000;
constexpr qint64 kActionMs = 3000;
constexpr std::uint32_t kPings = 26;

void Signal(const QStringList& pids, int signal) {
    for (const QString& pid : pids) {
        kill(pid.toInt(), signal);
    }
}

int Run(const QString& program, const QString& driver, const QStringList& pids, bool complete) {
    XServer x;
    Game game(x, {}, true, {QStringLiteral("SDL_AUDIODRIVER=") + driver}, program);
    const QString window = x.WaitForWindow(QStringLiteral("KOMA"), 20000);
    if (window.isEmpty()) {
        std::puts("no window");
        return 1;
    }
    const QPoint client(kClientLeft, kClientTop);
    QThread::msleep(2000);
    x.Click(client.x() + 218, client.y() + 440);  // "BGMや効果音を出す"
    QThread::msleep(2000);
    QStringList clicks = ClicksToSolveFromTheStart(client);
    clicks = clicks.mid(0, clicks.size() - 5);  // all but the last: one slide short
    x.Run(QStringLiteral("xdotool"), clicks);
    QThread::msleep(1000);

    const WmClient wm(x.display());
    Signal(pids, SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    std::map<std::uint32_t, qint64> waiting;  // ping number → when it was sent
    std::uint32_t sent = 0;
    int answered = 0;
    int late = 0;
    qint64 worst = 0;
    qint64 notice = -1;
    bool acted = false;
    bool stopped = true;
    while (clock.elapsed() < kPings * 500 + 1000) {
        for (const std::uint32_t serial : wm.Answers()) {
            if (const auto ping = waiting.find(serial); ping != waiting.end()) {
                const qint64 took = clock.elapsed() - ping->second;
                worst = std::max(worst, took);
                late += took > 1000 ? 1 : 0;
                ++answered;
                waiting.erase(ping);
            }
        }
        if (sent < kPings && clock.elapsed() >= 500 * static_cast<qint64>(sent)) {
            wm.Ping(window.toUInt(), ++sent);
            waiting[sent] = clock.elapsed();
        }
        if (!acted && clock.elapsed() >= kActionMs) {
            const auto& last = ClicksToSolveFromTheStart(client);
            if (complete) {
                x.Click(last.at(last.size() - 4).toInt(), last.at(last.size() - 3).toInt());
            } else {
                x.Click(client.x() + 50, client.y() + 440);  // "BGMや効果音は出さない"
                QThread::msleep(300);
                x.Click(client.x() + 218, client.y() + 440);
            }
            acted = true;
        }
        if (complete && acted && notice < 0 && x.Windows(QStringLiteral("KOMA")).size() > 1) {
            notice = clock.elapsed() - kActionMs;
        }
        if (stopped && clock.elapsed() >= kStopMs) {
            Signal(pids, SIGCONT);
            stopped = false;
        }
        QThread::msleep(20);
    }
    std::printf("%s: %d of %u pings answered, %d after more than 1 s (worst %lld ms); ",
                complete ? "completion" : "sound off and on", answered, kPings, late,
                static_cast<long long>(worst));
    if (complete) {
        std::printf("the notice showed %lld ms after the last click\n",
                    static_cast<long long>(notice));
    } else {
        std::printf("%lld KOMA windows (1: no box)\n",
                    static_cast<long long>(x.Windows(QStringLiteral("KOMA")).size()));
    }
    return 0;
}

}  // namespace
}  // namespace koma::xtest

int main(int argc, char** argv) {
    int qt_argc = 1;
    QCoreApplication application(qt_argc, argv);
    QString program;
    QString driver;
    QStringList pids;
    bool complete = true;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--game") && i + 1 < argc) {
            program = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == QLatin1String("--driver") && i + 1 < argc) {
            driver = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == QLatin1String("--stop") && i + 1 < argc) {
            pids = QString::fromLocal8Bit(argv[++i]).split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else {
            complete = argument != QLatin1String("toggle");
        }
    }
    return koma::xtest::Run(program, driver, pids, complete);
}
