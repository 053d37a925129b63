#pragma once

namespace sonoprog::production {

// Font sizes of one Writer's tile, in pixels.
struct TileScale {
    int resultPx = 19;  // the result word (PASS, FAIL)
    int statePx = 19;   // the other status words (INSERT CHIP, PROGRAMMING, ...)
    int detailPx = 12;  // a failure's reason under its FAIL
    int smallPx = 12;   // the Writer's name, the counters, the Restart button
};

// The Writers' tiles placed in an area: how many columns and rows, each
// tile's size and its fonts.
struct TileGrid {
    int columns = 1;
    int rows = 1;
    int tileWidth = 0;
    int tileHeight = 0;
    TileScale scale;
    // Whether the result word is at least an eighth of the tile's height
    // with everything else of the tile still in it.
    bool readable = false;
};

// The gap between two tiles.
inline constexpr int kTileSpacing = 6;
// The heights a tile gives its rows besides the status panel (the name row,
// the gauge, the counters row, margins and gaps) at a given small font.
int tileFixedHeight(int smallPx);
// The status panel's room for the result word with two lines of reason below.
int resultRoom(int panelHeight, int detailPx);

// The fonts for a status panel of its own (the one-Writer view): the words
// as large as its size allows with two lines of reason under a FAIL.
TileScale panelScale(int width, int height);

// The grid of `writers` tiles (1..16) in a `width` × `height` area that makes
// the result word largest, its width leaving room for the widest word.
TileGrid tileGrid(int width, int height, int writers);

// The operator view: the Production tab on a whole screen. A header row
// (job, operator, lot, buttons), the last units down the right side, the
// counters under the tiles, and the tiles in the rest.
struct OperatorLayout {
    int headerHeight = 0;
    int unitsWidth = 0;
    int countersHeight = 0;
    int textPx = 0;  // the header's, the units list's and the counters' font
    int tilesWidth = 0;
    int tilesHeight = 0;
    TileGrid grid;
};
OperatorLayout operatorLayout(int screenWidth, int screenHeight, int writers);

}  // namespace sonoprog::production
