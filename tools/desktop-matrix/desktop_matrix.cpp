// The desktop matrix, for developers (tools/desktop-matrix.sh runs it): the real game started
// again and again under each window manager, beside busy loops, as a player on a loaded desktop
// would meet it. For every start, one line: where the frame showed first and where it stayed,
// how long after the window manager told the frame it was in place, the notice's frame centre,
// and a computer solve pinged all along with a close made during it.
//
//     koma-desktop-matrix [--starts N] [--loops N] [--game PATH] [CASE ...]
//
// A CASE is a window manager, openbox, mutter, kwin_x11, xfwm4, metacity, icewm, fluxbox or
// none, with at most one of these after a colon: scale2 (the game at QT_SCALE_FACTOR=2),
// screen2 (QT_SCREEN_SCALE_FACTORS=2, as a Plasma session at 200 % exports), stall (the window
// manager stopped for 2 s while the game starts, as at a login). By default every window
// manager plainly, then openbox:scale2, openbox:screen2, openbox:stall and xfwm4:stall. One not
// installed is reported and passed over. The scaled cases check the place alone: the solve's
// watch compares the screen with the pictures at the scale of one.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <map>

#include "board/layout.h"
#include "support/solve_route.h"
#include "xvfb/solve_watch.h"
#include "xvfb/wm_client.h"
#include "xvfb/x_session.h"

namespace koma::xtest {
namespace {

const QRect kDesignedOuter(318, 191, 499, 509);
const QRect kBareClient(318, 191, 476, 466);
constexpr int kStallMs = 2000;
constexpr int kSettleMs = 2000;

// One row of the matrix: a window manager, and what the desktop does to it.
struct Case {
    QString manager;
    QString variant;  // "", "scale2", "screen2" or "stall"
    QString Name() const { return variant.isEmpty() ? manager : manager + ":" + variant; }
    int Scale() const { return variant.startsWith(QLatin1String("sc")) ? 2 : 1; }
    QStringList Environment() const {
        if (variant == QLatin1String("scale2")) {
            return {QStringLiteral("QT_SCALE_FACTOR=2")};
        }
        if (variant == QLatin1String("screen2")) {
            return {QStringLiteral("QT_SCREEN_SCALE_FACTORS=2")};
        }
        return {};
    }
};

QRect Times(const QRect& rect, int scale) {
    return {rect.topLeft() * scale, rect.size() * scale};
}

// Whether `seen` is `expected` within what a frame drawn in the screen's pixels may add on a
// scaled screen.
bool Right(const QRect& seen, const QRect& expected, int scale) {
    const int slack = scale > 1 ? 3 : 0;
    return std::abs(seen.left() - expected.left()) <= slack &&
           std::abs(seen.top() - expected.top()) <= slack &&
           std::abs(seen.right() - expected.right()) <= slack &&
           std::abs(seen.bottom() - expected.bottom()) <= slack;
}

QString Rect(const QRect& rect) {
    return QStringLiteral("%1,%2 %3x%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

struct Tally {
    qint64 worst_ping_ms = 0;
    qint64 worst_fit_ms = 0;  // from the frame's extents to the frame in place
    int starts = 0;
    int placed = 0;
    int first_placed = 0;
    int pings = 0;
    int close_waited = 0;
    int notice_centred = 0;
};

// How long after the window manager first told the frame the window was in place: 0 when it was
// from its first showing, -1 when never.
qint64 FitTime(const std::vector<WmClient::Placement>& seen, const QRect& expected, int scale) {
    const auto told = std::find_if(seen.begin(), seen.end(),
                                   [](const auto& placed) { return !placed.frame.isNull(); });
    const auto right = std::find_if(seen.begin(), seen.end(), [&](const auto& placed) {
        return Right(placed.Outer(), expected, scale);
    });
    if (right == seen.end()) {
        return -1;
    }
    return told == seen.end() || right <= told ? 0 : right->seen_ms - told->seen_ms;
}

// The map state of the game's window ("IsUnMapped": made, but the window manager never took up
// its map request), or that there is none.
QByteArray MapState(const XServer& x) {
    const QByteArray made =
        x.Run(QStringLiteral("xdotool"),
              {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^KOMA$")});
    if (made.isEmpty()) {
        return "no window";
    }
    const QStringList id{QStringLiteral("-id"), QString::fromLatin1(made.split('\n').value(0))};
    for (const QByteArray& line : x.Run(QStringLiteral("xwininfo"), id).split('\n')) {
        if (line.contains("Map State")) {
            return line.simplified();
        }
    }
    return "map state unknown";
}

// One start: prints its line and counts it.
void Start(const Case& start, int number, int loops, const QString& program, Tally& tally) {
    const QString manager = start.manager;
    const int scale = start.Scale();
    XServer x(scale > 1 ? QSize(2048, 1536) : QSize(1024, 768));
    QString why;
    if (!x.ok() || (manager != QLatin1String("none") && !x.StartWindowManager(why, manager))) {
        std::printf("%-15s %2d  could not start: %s\n", qPrintable(start.Name()), number,
                    qPrintable(why));
        return;
    }
    const CpuLoad load(loops);
    ++tally.starts;
    PlacementWatch watch(x.display());
    const bool stall = start.variant == QLatin1String("stall");
    if (stall) {
        // Once it has started up: openbox stopped in the middle of its start-up never takes up
        // a window mapped meanwhile, whatever the window does.
        QThread::msleep(kSettleMs);
        x.HoldWindowManager(true);
    }
    Game game(x, {}, true, start.Environment(), program);
    if (stall) {
        QThread::msleep(kStallMs);
        x.HoldWindowManager(false);
    }
    QElapsedTimer since_follow;
    since_follow.start();
    auto seen = watch.Follow(QStringLiteral("KOMA"), 500, 20000);
    if (seen.empty()) {
        std::printf("%-15s %2d  the window never showed (%s; game %s: %s)\n",
                    qPrintable(start.Name()), number, MapState(x).constData(),
                    game.process().state() == QProcess::Running ? "running" : "ended",
                    game.process().readAllStandardError().right(200).simplified().constData());
        return;
    }
    const bool bare = manager == QLatin1String("none");
    const QRect expected = Times(bare ? kBareClient : kDesignedOuter, scale);
    // Still for half a second is not yet where it stays on a loaded machine: a while longer.
    if (!Right(seen.back().Outer(), expected, scale)) {
        const auto later =
            WmClient(x.display())
                .WaitForPlacement(
                    watch.window(),
                    [&](const auto& now) { return Right(now.Outer(), expected, scale); }, 10000);
        if (later && later->Outer() != seen.back().Outer()) {
            seen.push_back(*later);
            seen.back().seen_ms = since_follow.elapsed();
        }
    }
    const bool first_right = Right(seen.front().Outer(), expected, scale);
    const bool last_right = Right(seen.back().Outer(), expected, scale);
    tally.first_placed += first_right ? 1 : 0;
    tally.placed += last_right ? 1 : 0;
    const qint64 fit_ms = FitTime(seen, expected, scale);
    tally.worst_fit_ms =
        fit_ms < 0 || tally.worst_fit_ms < 0 ? -1 : std::max(tally.worst_fit_ms, fit_ms);
    const QString placement =
        QStringLiteral("first %1 %2  last %3 %4  in place %5 after the frame (%6 placements)")
            .arg(Rect(seen.front().Outer()), -17)
            .arg(first_right ? QStringLiteral("ok ") : QStringLiteral("BAD"))
            .arg(Rect(seen.back().Outer()), -17)
            .arg(last_right ? QStringLiteral("ok ") : QStringLiteral("BAD"))
            .arg(fit_ms < 0 ? QStringLiteral("never") : QStringLiteral("%1 ms").arg(fit_ms))
            .arg(seen.size());
    if (scale > 1) {
        std::printf("%-15s %2d  %s\n", qPrintable(start.Name()), number, qPrintable(placement));
        std::fflush(stdout);
        return;
    }
    const QPoint client = seen.back().client.topLeft();
    const std::uint32_t window = watch.window();
    const WmClient wm(x.display());

    // The notice, after the player's own solve; first a click on the window's background, which
    // a desktop that focuses on a click (fluxbox) may take for itself.
    x.Click(client.x() + 450, client.y() + 300);
    x.Run(QStringLiteral("xdotool"), ClicksToSolveFromTheStart(client));
    // A loaded machine may take its time over the slides.
    const QString notice = x.WaitForAnotherWindow(QString::number(window), 30000);
    QString notice_at = QStringLiteral("none");
    if (!notice.isEmpty()) {
        const QPoint centre = QRect(0, 0, 1024, 768).center();
        const auto placed = wm.WaitForPlacement(
            notice.toUInt(),
            [&](const auto& box) { return (box.Outer().center() - centre).manhattanLength() <= 2; },
            5000);
        if (placed) {
            const QPoint at = placed->Outer().center();
            notice_at = QStringLiteral("%1,%2").arg(at.x()).arg(at.y());
            tally.notice_centred += (at - centre).manhattanLength() <= 2 ? 1 : 0;
        }
        x.RequestClose(notice);
        x.WaitUntilGone(notice, 5000);
    }

    // Restart, play the first three quarters of the way by hand (the solve under load is long),
    // then the computer's solve of the rest with pings, a click and a close.
    x.Click(client.x() + 437, client.y() + 72);
    const std::vector<Grid> route = koma::testing::BoardsOfTheSolve(StartLayout);
    const std::size_t by_hand = route.size() * 3 / 4;
    QStringList clicks = ClicksToSolveFromTheStart(client);
    clicks = clicks.mid(0, static_cast<qsizetype>(by_hand * 5));  // 5 words a click
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && !BoardShows(x.Screenshot(), StartLayout, client)) {
        QThread::msleep(100);
    }
    x.Run(QStringLiteral("xdotool"), clicks);
    clock.restart();
    while (clock.elapsed() < 10000 && !BoardShows(x.Screenshot(), route[by_hand], client)) {
        QThread::msleep(100);
    }
    const SolveWatch solve = WatchSolve(x, game, window, client, route[by_hand]);
    // A desktop calls a window hung when a ping waits 5 s (mutter's check-alive-timeout).
    const bool pings_ok = solve.pings_answered > 0 && solve.worst_answer_ms < 5000 &&
                          solve.pings_answered + 2 >= static_cast<int>(solve.pings_sent);
    const bool close_ok =
        solve.last_seen + 2 >= solve.boards && solve.closed && solve.exit_code == 0;
    tally.pings += pings_ok ? 1 : 0;
    tally.worst_ping_ms = std::max(tally.worst_ping_ms, solve.worst_answer_ms);
    tally.close_waited += close_ok ? 1 : 0;
    std::printf(
        "%-15s %2d  %s  notice centre %-9s  pings %d/%u (%d over 1 s) worst %lld ms %s  solve "
        "%zu/%zu close %s exit %d %s\n",
        qPrintable(start.Name()), number, qPrintable(placement), qPrintable(notice_at),
        solve.pings_answered, solve.pings_sent, solve.pings_late,
        static_cast<long long>(solve.worst_answer_ms), pings_ok ? "ok" : "BAD", solve.last_seen,
        solve.boards - 1, solve.closed ? "handled" : "lost", solve.exit_code,
        close_ok ? "ok" : "BAD");
    std::fflush(stdout);
}

bool Installed(const QString& manager) {
    if (manager == QLatin1String("none")) {
        return true;
    }
    const QStringList command = WindowManagerCommand(manager);
    return !QStandardPaths::findExecutable(command.first()).isEmpty() &&
           !QStandardPaths::findExecutable(manager).isEmpty();
}

int Run(const QStringList& arguments) {
    int starts = 8;
    int loops = 2;
    QString program;
    QStringList names;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--starts") && i + 1 < arguments.size()) {
            starts = arguments[++i].toInt();
        } else if (arguments[i] == QLatin1String("--loops") && i + 1 < arguments.size()) {
            loops = arguments[++i].toInt();
        } else if (arguments[i] == QLatin1String("--game") && i + 1 < arguments.size()) {
            program = arguments[++i];
        } else {
            names << arguments[i];
        }
    }
    if (names.isEmpty()) {
        names = {QStringLiteral("openbox"),        QStringLiteral("mutter"),
                 QStringLiteral("kwin_x11"),       QStringLiteral("xfwm4"),
                 QStringLiteral("metacity"),       QStringLiteral("icewm"),
                 QStringLiteral("fluxbox"),        QStringLiteral("none"),
                 QStringLiteral("openbox:scale2"), QStringLiteral("openbox:screen2"),
                 QStringLiteral("openbox:stall"),  QStringLiteral("xfwm4:stall")};
    }
    std::vector<Case> cases;
    for (const QString& name : names) {
        cases.push_back({name.section(QLatin1Char(':'), 0, 0), name.section(QLatin1Char(':'), 1)});
    }
    std::map<QString, Tally> tallies;
    for (const Case& start : cases) {
        if (!Installed(start.manager)) {
            std::printf("%-15s     not installed\n", qPrintable(start.Name()));
            continue;
        }
        for (int number = 1; number <= starts; ++number) {
            Start(start, number, loops, program, tallies[start.Name()]);
        }
    }
    std::printf(
        "\n| case | starts | frame right from the first showing | frame right at last | in place "
        "after the frame was told (worst) | pings answered in a solve (worst) | close waited, "
        "exit 0 | notice centred |\n|---|---|---|---|---|---|---|---|\n");
    for (const Case& start : cases) {
        if (const auto tally = tallies.find(start.Name()); tally != tallies.end()) {
            const Tally& t = tally->second;
            const QString fit = t.worst_fit_ms < 0 ? QStringLiteral("never in place")
                                                   : QStringLiteral("%1 ms").arg(t.worst_fit_ms);
            if (start.Scale() > 1) {
                std::printf("| %s | %d | %d | %d | %s | – | – | – |\n", qPrintable(start.Name()),
                            t.starts, t.first_placed, t.placed, qPrintable(fit));
                continue;
            }
            std::printf("| %s | %d | %d | %d | %s | %d (%lld ms) | %d | %d |\n",
                        qPrintable(start.Name()), t.starts, t.first_placed, t.placed,
                        qPrintable(fit), t.pings, static_cast<long long>(t.worst_ping_ms),
                        t.close_waited, t.notice_centred);
        }
    }
    return 0;
}

}  // namespace
}  // namespace koma::xtest

int main(int argc, char** argv) {
    // Only for reading the tile pictures out of the resources; no display needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qt_argc = 1;
    QGuiApplication application(qt_argc, argv);
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return koma::xtest::Run(arguments);
}
