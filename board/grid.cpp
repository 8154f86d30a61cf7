#include "board/grid.h"

namespace koma {

std::string RowsText(const Grid& grid) {
    std::string text;
    for (const int tile : grid.Rows()) {
        if (!text.empty()) {
            text += ' ';
        }
        text += std::to_string(tile);
    }
    return text;
}

}  // namespace koma
