// Renders songs with the whole SoundFont and with the font cut down to what
// each song plays, and says whether the two are the same to the last bit.
//
//   font_cut_check SOUNDFONT SONG.mid...
// Prints one line per song (frames, peak, first differing frame or "same")
// and exits 1 when any song differs, 2 when the font cannot be cut at all.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/render/offline.h"
#include "device/soundfont/font_directory.h"

int main(int argc, char** argv) {
    using namespace lirno::device;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SOUNDFONT SONG.mid...\n", argv[0]);
        return 2;
    }
    if (!FontIndex::read(argv[1])) {
        std::fprintf(stderr, "%s: not a font this program cuts (it is loaded whole)\n", argv[1]);
        return 2;
    }
    int differing = 0;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        RenderOptions whole;
        whole.soundFont = argv[1];
        whole.fontUse = FontUse::Whole;
        RenderOptions cut = whole;
        cut.fontUse = FontUse::AsPlayed;
        RenderedAudio a, b;
        const int ea = renderToMemory(bytes, 0, whole, a);
        const int eb = renderToMemory(bytes, 0, cut, b);
        if (ea != 0 || eb != 0) {
            std::printf("%s: not rendered (%d, %d)\n", argv[i], ea, eb);
            if (ea != eb) ++differing;
            continue;
        }
        std::size_t first = a.left.size() == b.left.size() ? a.left.size() : 0;
        float peak = 0;
        for (std::size_t f = 0; f < std::min(a.left.size(), b.left.size()); ++f) {
            peak = std::max(peak, std::abs(a.left[f]));
            if (f < first && (a.left[f] != b.left[f] || a.right[f] != b.right[f])) first = f;
        }
        const bool same = first == a.left.size();
        if (!same) ++differing;
        std::printf("%s: %zu frames, peak %.3f, %s", argv[i], a.left.size(), peak,
                    same ? "same\n" : "DIFFERS");
        if (!same) std::printf(" from frame %zu\n", first);
        std::fflush(stdout);
    }
    return differing == 0 ? 0 : 1;
}
