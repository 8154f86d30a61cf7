// A View that remembers what the game asked of the screen, for tests and tools without a window.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "board/layout.h"
#include "board/view.h"

namespace koma::testing {

class FakeView : public View {
  public:
    struct Point {
        int left = -1;
        int top = -1;
        bool operator==(const Point&) const = default;
    };

    void MoveTilePicture(int tile, int left, int top) override {
        pictures.at(static_cast<std::size_t>(tile)) = {left, top};
        ++picture_moves;
        Log("move " + std::to_string(tile));
    }
    void RepaintNow() override {
        ++repaints;
        Log("repaint");
    }
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

    // Where the picture of `tile` stands, as a cell; {-1, -1} when it is between cells.
    Point CellOf(int tile) const {
        const Point p = pictures.at(static_cast<std::size_t>(tile));
        if ((p.left - kBoardOrigin) % CellSize != 0 || (p.top - kBoardOrigin) % CellSize != 0) {
            return {};
        }
        return {(p.left - kBoardOrigin) / CellSize, (p.top - kBoardOrigin) / CellSize};
    }

    // True when every picture stands on the cell that `grid` gives its tile.
    bool PicturesMatch(const Grid& grid) const {
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                const int tile =
                    grid.at(static_cast<std::size_t>(x)).at(static_cast<std::size_t>(y));
                if (CellOf(tile) != Point{x, y}) {
                    return false;
                }
            }
        }
        return true;
    }

    void ClearLog() { log.clear(); }

    bool sound_on = false;
    bool solver_button_visible = true;
    bool keep_log = true;
    std::array<Point, kCells> pictures{};
    std::vector<std::string> notices;
    std::vector<std::string> log;
    int repaints = 0;
    int effects = 0;
    int picture_moves = 0;

  private:
    void Log(std::string entry) {
        if (keep_log) {
            log.push_back(std::move(entry));
        }
    }
};

}  // namespace koma::testing
