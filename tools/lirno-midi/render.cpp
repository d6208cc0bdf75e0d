// lirno-midi render: the edited song rendered offline to a WAV file, from a
// position to the end, exactly as a play from there would sound.
#include <unistd.h>

#include <cstdio>

#include "commands.h"
#include "device/errors.h"
#include "device/offline.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno::cli {

namespace {

// A bar that redraws itself on a terminal; elsewhere only the final line.
class Progress {
public:
    Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {}
    void update(double fraction)
    {
        if (!terminal_) return;
        const int percent = static_cast<int>(fraction * 100 + 0.5);
        if (percent == last_) return;
        last_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                     kWidth - filled, "", percent);
        std::fflush(stderr);
    }
    void finish(const std::string& line)
    {
        if (terminal_ && last_ >= 0) std::fputc('\n', stderr);
        std::fprintf(stderr, "%s\n", line.c_str());
    }

private:
    bool terminal_;
    int last_ = -1;
};

}  // namespace

int runRender(const RenderOptions& options)
{
    PlayFile playFile;
    TrackRows rows(loaded.image, loaded.MidiInfo, [] {});
    if (const int code = loadAndEdit(options.file, options.edits, rows)) return code;
    if (!settmp(playback.sTmpName, loaded.image.data(), loaded.image.dwFileBufSize)) return 1;

    Progress progress;
    device::RenderOptions render;
    const int error = device::renderToWav(playback.sTmpName, options.from, options.wav, render,
                                          [&](double f) { progress.update(f); });
    if (error) {
        progress.finish("lirno-midi: " +
                        device::errorTextFor(error).value_or("rendering failed (code " +
                                                             std::to_string(error) + ")"));
        return 1;
    }
    progress.finish("Rendered " + options.wav);
    return 0;
}

}  // namespace lirno::cli
