#include "solve_watch.h"

#include <QColor>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <map>
#include <vector>

#include "board/layout.h"
#include "support/solve_route.h"
#include "wm_client.h"

namespace koma::xtest {
namespace {

QImage TilePicture(int tile) {
    return QImage(QStringLiteral(":/tiles/tile%1.png").arg(tile, 2, 10, QLatin1Char('0')))
        .convertToFormat(QImage::Format_RGB32);
}

// Whether the cell shows the tile's picture, compared on a sparse grid of its pixels.
bool CellShows(const QImage& screen, QPoint client, int x, int y, int tile) {
    const QImage picture = TilePicture(tile);
    for (int py = 0; py < kPictureSize; py += 6) {
        for (int px = 0; px < kPictureSize; px += 6) {
            const QPoint at = client + QPoint(CellLeft(x) + px, CellTop(y) + py);
            if (!screen.rect().contains(at) ||
                QColor(screen.pixel(at)) != QColor(picture.pixel(px, py))) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool BoardShows(const QImage& screen, const Grid& grid, QPoint client) {
    for (int x = 0; x < kColumns; ++x) {
        for (int y = 0; y < kRows; ++y) {
            if (!CellShows(screen, client, x, y, grid[x][y])) {
                return false;
            }
        }
    }
    return true;
}

SolveWatch WatchSolve(const XServer& x, Game& game, std::uint32_t window, QPoint client,
                      const Grid& from) {
    SolveWatch watch;
    const WmClient wm(x.display());
    if (!wm.ok()) {
        return watch;
    }
    const std::vector<Grid> boards = koma::testing::BoardsOfTheSolve(from);
    watch.boards = boards.size();
    const QRect board_area(0, 0, client.x() + 394, client.y() + 394);
    x.Click(client.x() + 437, client.y() + 380);  // "PCにやらせる"
    QElapsedTimer clock;
    clock.start();
    std::map<std::uint32_t, qint64> waiting;  // ping number → when it was sent
    bool clicked = false;
    bool close_sent = false;
    // Without an event loop here, only waitForFinished notices that the game has ended.
    while (!game.process().waitForFinished(0) && clock.elapsed() < 180000) {
        for (const std::uint32_t serial : wm.Answers()) {
            if (const auto ping = waiting.find(serial); ping != waiting.end()) {
                const qint64 took = clock.elapsed() - ping->second;
                watch.worst_answer_ms = std::max(watch.worst_answer_ms, took);
                watch.pings_late += took > kPingPatienceMs ? 1 : 0;
                ++watch.pings_answered;
                waiting.erase(ping);
            }
        }
        if (clock.elapsed() >= 500 * static_cast<qint64>(watch.pings_sent)) {
            wm.Ping(window, ++watch.pings_sent);
            waiting[watch.pings_sent] = clock.elapsed();
        }
        const QImage screen = wm.Grab(board_area);
        for (std::size_t next = watch.last_seen + 1; !screen.isNull() && next < boards.size();
             ++next) {
            if (BoardShows(screen, boards[next], client)) {
                watch.last_seen = next;
                ++watch.boards_seen;
                break;
            }
        }
        if (!clicked && watch.last_seen >= boards.size() / 6) {
            x.Click(client.x() + CellLeft(1) + 47, client.y() + CellTop(1) + 47);  // locked board
            clicked = true;
        }
        if (!close_sent && watch.last_seen >= boards.size() / 3) {
            wm.RequestClose(window);
            close_sent = true;
        }
        QThread::msleep(20);
    }
    // Pings still waiting when the game ended count as late, unless sent within the patience.
    for (const auto& [serial, sent] : waiting) {
        watch.pings_late += clock.elapsed() - sent > kPingPatienceMs ? 1 : 0;
    }
    watch.closed = game.process().state() == QProcess::NotRunning;
    if (watch.closed && game.process().exitStatus() == QProcess::NormalExit) {
        watch.exit_code = game.process().exitCode();
    }
    return watch;
}

}  // namespace koma::xtest
