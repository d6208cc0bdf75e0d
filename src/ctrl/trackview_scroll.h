// The track list's scrolling, in whole rows. Qt-free: the view feeds it its
// client height and the scroll bar's requests and moves the rows by the step
// it returns.
#pragma once

#include <cstdint>
#include <optional>

namespace lirno {

inline constexpr int kRowPitch = 21;  // pixels from one row's top to the next

// What the scroll bar asks for.
enum class ScrollRequest {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbPosition,  // the thumb was let go at a position
    ThumbTrack,     // the thumb is being dragged
    Top,
    Bottom,
    EndScroll,
};

struct TrackScroll {
    int nScrollPos = 0;          // the row shown at the top
    int nRange = 0;              // the largest nScrollPos, never below 0
    int nScroll = 0;             // the last step in rows (old position minus new)
    std::uint16_t chClient = 0;  // the client height from the last resize

    // Whole rows that fit in the client height.
    int visibleRows() const { return chClient / kRowPitch; }

    // Fresh rows: unscrolled, with the range for n rows in a client of that height.
    void fill(int n, int clientHeight);
    // A new client height. The range follows the rows only while the view is
    // unscrolled, so a resize never pulls rows out from under a scrolled list.
    void resize(int clientHeight, int n);
    // Moves to the requested row; returns how far the rows move in pixels
    // (positive moves them down), or nothing while the thumb is dragged.
    std::optional<int> request(ScrollRequest what, int thumb = 0);

    // n - 1 once n rows fill the view (so the last row can reach the top), else 0.
    static int rangeFor(int n, int rowsThatFit);
};

}  // namespace lirno
