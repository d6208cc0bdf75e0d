#include "ctrl/trackview_scroll.h"

#include <algorithm>

namespace lirno {

namespace {

std::uint16_t clientHeight16(int h) {
    return static_cast<std::uint16_t>(std::clamp(h, 0, 0xFFFF));
}

}  // namespace

int TrackScroll::rangeFor(int n, int rowsThatFit) {
    if (n - rowsThatFit < 0) return 0;
    return std::max(0, n - 1);
}

void TrackScroll::fill(int n, int clientHeight) {
    chClient = clientHeight16(clientHeight);
    nScrollPos = 0;
    nScroll = 0;
    nRange = rangeFor(n, visibleRows());
}

void TrackScroll::resize(int clientHeight, int n) {
    chClient = clientHeight16(clientHeight);
    if (nRange != 0 && nScrollPos != 0) return;
    nRange = rangeFor(n, visibleRows());
}

std::optional<int> TrackScroll::request(ScrollRequest what, int thumb) {
    const int old = nScrollPos;
    int pos = old;
    switch (what) {
        case ScrollRequest::LineUp:
            pos = old - 1;
            break;
        case ScrollRequest::LineDown:
            pos = old + 1;
            break;
        case ScrollRequest::PageUp:
            pos = old - visibleRows();
            break;
        case ScrollRequest::PageDown:
            pos = old + visibleRows();
            break;
        case ScrollRequest::ThumbPosition:
            pos = thumb;
            break;
        case ScrollRequest::ThumbTrack:
            return std::nullopt;
        case ScrollRequest::Top:
            pos = 0;
            break;
        case ScrollRequest::Bottom:
            pos = nRange;
            break;
        case ScrollRequest::EndScroll:
            break;
    }
    nScrollPos = std::max(0, std::min(pos, nRange));
    nScroll = old - nScrollPos;
    return nScroll * kRowPitch;
}

}  // namespace lirno
