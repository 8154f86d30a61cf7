// A View without a window: it remembers what the game asked of the screen. Tests check the
// record; the benchmarks switch the record off.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "board/layout.h"
#include "board/view.h"
#include "support/picture_cell.h"

namespace koma::support {

class RecordingView : public View {
  public:
    struct Point {
        int left = -1;
        int top = -1;
        bool operator==(const Point&) const = default;
    };

    void MoveTilePicture(int tile, int left, int top) override {
        pictures.at(ArrayIndex(tile)) = {left, top};
        ++picture_moves;
        if (keep_log) {
            Log("move " + std::to_string(tile));
        }
    }
    void RepaintNow() override {
        ++repaints;
        Log("repaint");
    }
    // Not logged: what the screen shows does not change with it.
    void AnswerDesktop() override { ++desktop_answers; }
    void ShowNotice(std::string_view text) override {
        notices.emplace_back(text);
        Log("notice " + std::string(text));
    }
    bool IsSoundOn() const override { return sound_on; }
    void PlayEffect() override {
        ++effects;
        Log("effect");
    }
    void SetSolverButtonVisible(bool visible) override {
        solver_button_visible = visible;
        Log(visible ? "show solver" : "hide solver");
    }
    bool IsSolverButtonVisible() const override { return solver_button_visible; }

    // Where the picture of `tile` stands, as a cell; kNoCell when it is between cells.
    Cell CellOf(int tile) const {
        const Point p = pictures.at(ArrayIndex(tile));
        return testing::PictureCell(p.left, p.top);
    }

    // True when every picture stands on the cell that `grid` gives its tile.
    bool PicturesMatch(const Grid& grid) const {
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                if (CellOf(grid[x][y]) != Cell{x, y}) {
                    return false;
                }
            }
        }
        return true;
    }

    void ClearLog() { log.clear(); }

    bool sound_on = false;
    bool solver_button_visible = true;
    // Off for long runs: the counters and pictures are still kept, the log is not.
    bool keep_log = true;
    std::array<Point, kCells> pictures{};
    std::vector<std::string> notices;
    std::vector<std::string> log;
    int repaints = 0;
    int desktop_answers = 0;
    int effects = 0;
    int picture_moves = 0;

  private:
    void Log(std::string entry) {
        if (keep_log) {
            log.push_back(std::move(entry));
        }
    }
};

}  // namespace koma::support
