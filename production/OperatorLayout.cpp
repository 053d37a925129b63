#include "production/OperatorLayout.h"

#include <algorithm>

namespace sonoprog::production {

namespace {

// A status line's height for a font's pixel size (the font's ascent, descent
// and leading, with room to spare).
int lineHeight(int px) {
    return px * 13 / 10 + 2;
}

// Widths in ems: the widest bold result word (FAIL, PASS), the widest other
// status word (PROGRAMMING, Disconnect), the counters' line.
constexpr double kResultEms = 3.4;
constexpr double kStateEms = 9.0;
constexpr double kCountersEms = 20.0;
// A tile's frame and the panel's border and margins, across.
constexpr int kTileSideRoom = 28;

}  // namespace

int tileFixedHeight(int smallPx) {
    // Name row (Restart beside it), gauge, counters row; frame margins and the gaps between.
    const int row = std::max(lineHeight(smallPx), smallPx * 2);
    return row + lineHeight(smallPx) + lineHeight(smallPx) + 2 * 9 + 3 * 6;
}

int resultRoom(int panelHeight, int detailPx) {
    return panelHeight - 2 * lineHeight(detailPx) - 8;
}

TileScale panelScale(int width, int height) {
    TileScale s;
    const int inner = std::max(0, width - 12);
    s.detailPx = std::clamp(height / 9, 10, 32);
    s.smallPx = s.detailPx;
    s.resultPx = std::max(8, std::min({height * 35 / 100, static_cast<int>(inner / kResultEms),
                                       resultRoom(height, s.detailPx) * 10 / 13 - 2}));
    s.statePx = std::max(8, std::min(s.resultPx, static_cast<int>(inner / kStateEms)));
    return s;
}

TileGrid tileGrid(int width, int height, int writers) {
    writers = std::clamp(writers, 1, 16);
    TileGrid best;
    bool first = true;
    for (int columns = 1; columns <= writers; ++columns) {
        const int rows = (writers + columns - 1) / columns;
        // A column too many leaves the same rows: no better.
        if (columns > 1 && (writers + columns - 2) / (columns - 1) == rows) continue;
        TileGrid g;
        g.columns = columns;
        g.rows = rows;
        g.tileWidth = (width - (columns - 1) * kTileSpacing) / columns;
        g.tileHeight = (height - (rows - 1) * kTileSpacing) / rows;
        if (g.tileWidth <= 0 || g.tileHeight <= 0) continue;
        const int inner = g.tileWidth - kTileSideRoom;
        auto& s = g.scale;
        s.smallPx =
            std::clamp(std::min(g.tileHeight / 15, static_cast<int>(inner / kCountersEms)), 9, 30);
        s.detailPx = std::clamp(s.smallPx * 6 / 5, 10, 36);
        const int panel = g.tileHeight - tileFixedHeight(s.smallPx);
        const int room = resultRoom(panel, s.detailPx);
        s.resultPx =
            std::max(8, std::min({g.tileHeight * 22 / 100, static_cast<int>(inner / kResultEms),
                                  room * 10 / 13 - 2}));
        s.statePx = std::max(8, std::min(s.resultPx, static_cast<int>(inner / kStateEms)));
        // A bold capital is about 0.7 of the font's pixel size high.
        g.readable = s.resultPx * 7 >= g.tileHeight * 10 / 8 && panel > 0;
        // The result word largest, but not at the cost of the other words:
        // a grid of tall narrow tiles makes PASS large and the rest small.
        const auto score = [](const TileScale& t) {
            return std::min({t.resultPx, 2 * t.statePx, 5 * t.smallPx});
        };
        const bool better = first || (g.readable && !best.readable) ||
                            (g.readable == best.readable && score(s) > score(best.scale));
        if (better) best = g;
        first = false;
    }
    return best;
}

OperatorLayout operatorLayout(int screenWidth, int screenHeight, int writers) {
    OperatorLayout l;
    l.textPx = std::clamp(screenHeight / 48, 12, 28);
    l.headerHeight = 2 * lineHeight(l.textPx) + 24;
    l.countersHeight = lineHeight(l.textPx * 3 / 2) + 8;
    // Wide enough for "[1-1.3] UNIT 1234 FAIL 12.3s" and the start of a reason.
    l.unitsWidth = std::clamp(screenWidth * 24 / 100, l.textPx * 20, screenWidth / 3);
    constexpr int kMargin = 9;
    l.tilesWidth = screenWidth - l.unitsWidth - 3 * kMargin;
    l.tilesHeight = screenHeight - l.headerHeight - l.countersHeight - 4 * kMargin;
    l.grid = tileGrid(l.tilesWidth, l.tilesHeight, writers);
    return l;
}

}  // namespace sonoprog::production
