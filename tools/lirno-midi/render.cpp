// lirno-midi render: the edited song rendered offline to audio files, the mix
// and/or one stem per audible track, from a position to where its sound has
// died away, exactly as a play from there would sound.
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "device/render/render_job.h"
#include "interrupts.h"
#include "mmio/playback.h"
#include "stems.h"

namespace lirno::cli {

namespace {

// A bar that redraws itself on a terminal; elsewhere only the final line.
class Progress {
  public:
    Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {}
    void update(double fraction) {
        if (!terminal_) return;
        const int percent = static_cast<int>(fraction * 100 + 0.5);
        if (percent <= last_) return;  // estimates may shrink; the bar never does
        last_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled,
                     "########################################", kWidth - filled, "", percent);
        std::fflush(stderr);
    }
    void finish(const std::string& line) {
        if (terminal_ && last_ >= 0) std::fputc('\n', stderr);
        std::fprintf(stderr, "%s\n", line.c_str());
    }

  private:
    bool terminal_;
    int last_ = -1;
};

std::string duration(double seconds) {
    char buf[64];
    if (seconds >= 2 * 86400.0) {
        std::snprintf(buf, sizeof buf, "%.0f days", seconds / 86400.0);
    } else if (seconds >= 3600.0) {
        const auto s = static_cast<long>(seconds);
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        const auto tenths = static_cast<long>(seconds * 10 + 0.5);
        std::snprintf(buf, sizeof buf, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60,
                      tenths % 10);
    }
    return buf;
}

std::string decibels(double gain) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.1f dB", 20.0 * std::log10(gain));
    return buf;
}

// What the final line says beyond the files: length, gain, an early end.
std::string summary(const device::JobReport& r, const RenderOptions& o, std::uint32_t rate) {
    const double seconds = static_cast<double>(r.frames) / rate;
    std::string s = " (" + duration(seconds) + " at " + std::to_string(rate) + " Hz";
    if (o.normalizeDb) {
        s += ", normalized to a peak of " + decibels(std::pow(10.0, *o.normalizeDb / 20.0)) +
             ", gain " + decibels(r.gain);
    } else if (r.gain != 1.0) {
        s += ", scaled by " + decibels(r.gain) + " so that its peak stays below full scale";
    }
    s += ")";
    if (r.gapFrames > 0) {
        const double at = static_cast<double>(device::unitsToNs(o.from)) / 1e9 + seconds;
        s += "; stopped at " + duration(at) +
             ", where the song falls silent and no event follows for " +
             duration(static_cast<double>(r.gapFrames) / rate);
    } else if (r.stillSounding) {
        s += "; stopped a few seconds after the song's last event with notes still sounding";
    } else if (r.nominalFrames > r.frames + rate / 2) {
        s += "; stopped " + duration(static_cast<double>(r.nominalFrames - r.frames) / rate) +
             " before the song's nominal end, once its last notes had died away";
    }
    if (r.sumError && *r.sumError > 0) {
        s += "; the stems sum to the mix within " + decibels(*r.sumError) +
             " of full scale at the worst sample, " + decibels(std::sqrt(r.sumErrorEnergy)) +
             " of the mix overall";
    } else if (r.sumError) {
        s += "; the stems sum exactly to the mix";
    }
    return s;
}

// Checks the output names, the rate and the peak before any work; false with
// the message.
bool chooseFormats(const RenderOptions& o, device::AudioFormat& mix, device::AudioFormat& stems,
                   std::uint32_t& rate, std::string& error) {
    if (!o.out.empty() && !device::audioFormatFor(o.out, mix, error)) return false;
    if (!o.stems.empty() &&
        !device::audioFormatFor(o.format.empty() ? "wav" : o.format, stems, error))
        return false;
    if (o.normalizeDb && !(*o.normalizeDb <= 0.0)) {
        error = "--normalize takes a peak at or below full scale (0 dB or less)";
        return false;
    }
    rate = o.rate ? o.rate : (o.out.empty() ? stems : mix).defaultRate;
    if (!o.out.empty() && !device::rateFits(mix, rate, error)) return false;
    return o.stems.empty() || device::rateFits(stems, rate, error);
}

// One target per stem, in a folder made for them.
bool addStems(const RenderOptions& o, const device::AudioFormat& format,
              std::vector<device::RenderTarget>& targets, int& code) {
    std::vector<Stem> stems;
    if (!makeStems(o.file, o.edits, format.extension, !targets.empty(), stems, code)) return false;
    std::error_code ec;
    std::filesystem::create_directories(o.stems, ec);
    if (ec) {
        std::fprintf(stderr, "lirno-midi: cannot make the folder %s: %s\n", o.stems.c_str(),
                     ec.message().c_str());
        code = 1;
        return false;
    }
    for (Stem& s : stems) {
        const std::string path = (std::filesystem::path(o.stems) / s.fileName).string();
        targets.push_back({std::move(s.midi), path, format});
    }
    return true;
}

// "song.flac and 12 stems in out/"
std::string written(const RenderOptions& o, std::size_t targets) {
    const std::size_t stems = targets - (o.out.empty() ? 0 : 1);
    std::string what = o.out;
    if (stems > 0) {
        what += (what.empty() ? "" : " and ") + std::to_string(stems) +
                (stems == 1 ? " stem" : " stems") + " in " + o.stems;
    }
    return what;
}

}  // namespace

int runRender(const RenderOptions& options) {
    device::AudioFormat mixFormat, stemFormat;
    std::uint32_t rate = 0;
    std::string error;
    if (!chooseFormats(options, mixFormat, stemFormat, rate, error)) {
        std::fprintf(stderr, "lirno-midi: refused: %s; nothing was written\n", error.c_str());
        return 2;
    }

    std::vector<device::RenderTarget> targets;
    int code = 0;
    device::JobOptions job;
    if (!options.out.empty()) {
        targets.push_back({{}, options.out, mixFormat});
        if (!editedImage(options.file, options.edits, targets.back().midi, code)) return code;
    }
    if (!options.stems.empty()) {
        if (!targets.empty()) job.mixIndex = 0;
        if (!addStems(options, stemFormat, targets, code)) return code;
    }
    if (targets.empty()) {
        std::fprintf(stderr,
                     "lirno-midi: no track is audible, so there are no stems; "
                     "nothing was written\n");
        return 1;
    }

    // Every target holds the same tempo map, so any gives the section's ticks.
    std::uint32_t passageStart = 0;
    if (const int c = practiceSettings(targets.front().midi, options.practice, job.render.playback,
                                       passageStart))
        return c;
    job.fromUnits = job.render.playback.passage ? passageStart : options.from;
    job.normalizeDb = options.normalizeDb;
    job.render.rate = rate;
    job.render.sound = soundFor(options.sound);
    const std::atomic<bool>& interrupted = catchInterrupts();
    Progress progress;
    device::JobReport report;
    const int err = device::renderJob(targets, job, report, &interrupted,
                                      [&](double f) { progress.update(f); });
    if (err != 0) {
        progress.finish("lirno-midi: " + report.error);
        return interrupted.load() ? 130 : 1;
    }
    const std::string what = written(options, targets.size());
    progress.finish("Rendered " + what + summary(report, options, rate));
    return 0;
}

}  // namespace lirno::cli
