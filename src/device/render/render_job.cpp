#include "device/render/render_job.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "device/engine/scheduler.h"
#include "device/errors.h"
#include "device/files.h"
#include "device/song/song_file.h"

namespace lirno::device {
namespace {

constexpr std::size_t kCopyFrames = 4096;

// A render's raw float samples, kept on disk beside its target until the
// job's gain is known, in a file that nothing outlives the process with.
class Spool {
  public:
    bool open(const std::string& target, std::string& error) {
        file_.emplace(target, FileBeside::Use::Scratch);
        if (file_->fd() >= 0) return true;
        error = "cannot create a file in " + file_->folder().string() + ": " + std::strerror(errno);
        return false;
    }

    bool append(const float* left, const float* right, std::size_t n) {
        buf_.resize(2 * n);
        bool silent = true;
        for (std::size_t i = 0; i < n; ++i) {
            buf_[2 * i] = left[i];
            buf_[2 * i + 1] = right[i];
            silent = silent && std::fabs(left[i]) < kSilence && std::fabs(right[i]) < kSilence;
        }
        const std::size_t bytes = buf_.size() * sizeof(float);
        // A stem is mostly rests: silence is left as a hole in the file,
        // which reads back as zeros and costs neither disk nor time.
        if (silent && !stale_) {
            size_ += bytes;
            return true;
        }
        const auto* p = reinterpret_cast<const char*>(buf_.data());
        for (std::size_t done = 0; done < bytes;) {
            const ssize_t w =
                ::pwrite(file_->fd(), p + done, bytes - done, static_cast<off_t>(size_ + done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += static_cast<std::size_t>(w);
        }
        size_ += bytes;
        return true;
    }
    // Drops what was appended, for a render that starts again.
    void clear() {
        size_ = 0;
        // Holes read as zeros only where nothing was written: if the old data
        // stays, silence is written over it too.
        stale_ = ::ftruncate(file_->fd(), 0) != 0;
    }
    // Reads interleaved frames from frame `at`; returns the frames read.
    // Frames past the data written so far read as silence.
    std::size_t read(std::uint64_t at, float* frames, std::size_t n) const {
        const std::uint64_t offset = at * 2 * sizeof(float);
        if (offset >= size_) return 0;
        const std::size_t bytes = std::min<std::uint64_t>(n * 2 * sizeof(float), size_ - offset);
        std::size_t done = 0;
        while (done < bytes) {
            const ssize_t r = ::pread(file_->fd(), reinterpret_cast<char*>(frames) + done,
                                      bytes - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            done += static_cast<std::size_t>(r);
        }
        return done / (2 * sizeof(float));
    }

  private:
    // Far below the last bit of any output format (24-bit PCM: 6e-8).
    static constexpr float kSilence = 1e-9f;

    std::optional<FileBeside> file_;
    std::uint64_t size_ = 0;
    bool stale_ = false;
    std::vector<float> buf_;
};

// The state each target carries through the job.
struct Output {
    std::shared_ptr<const Song> song;
    Spool spool;
    std::unique_ptr<AudioFileWriter> writer;
    RenderEnd end;
};

// Shared between the workers and the thread that runs the job.
class JobState {
  public:
    explicit JobState(const std::atomic<bool>* cancel) : cancel_(cancel) {}

    // The first failure wins; every other worker then stops soon.
    void fail(int code, std::string text) {
        std::lock_guard lock(m_);
        if (code_ == 0) {
            code_ = code;
            text_ = std::move(text);
        }
        stop_.store(true);
    }
    const std::atomic<bool>* stopFlag() const { return &stop_; }
    bool stopped() {
        if (cancel_ != nullptr && cancel_->load())
            fail(kErrCancelled, *errorTextFor(kErrCancelled));
        return stop_.load();
    }
    int code(std::string& text) {
        std::lock_guard lock(m_);
        text = text_;
        return code_;
    }
    std::atomic<std::uint64_t> work{0};  // frames rendered plus frames written

  private:
    const std::atomic<bool>* cancel_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    int code_ = 0;
    std::string text_;
};

// Runs work(i) for every i on up to `threads` threads; the calling thread
// meanwhile calls tick() every tenth of a second.
template <class Work, class Tick>
void runParallel(std::size_t count, unsigned threads, Work work, Tick tick) {
    std::atomic<std::size_t> next{0};
    std::mutex m;
    std::condition_variable cv;
    unsigned finished = 0;
    const unsigned n = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(count)));
    {
        std::vector<std::jthread> pool;
        for (unsigned t = 0; t < n; ++t) {
            pool.emplace_back([&] {
                for (std::size_t i; (i = next.fetch_add(1)) < count;) work(i);
                {
                    std::lock_guard lock(m);
                    ++finished;
                }
                cv.notify_one();
            });
        }
        std::unique_lock lock(m);
        while (!cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return finished == n; })) {
            lock.unlock();
            tick();
            lock.lock();
        }
    }
    tick();
}

void renderOne(Output& out, const JobOptions& options, JobState& state) {
    std::uint64_t reported = 0;
    const RenderSink sink = [&](const float* l, const float* r, std::size_t n) {
        return out.spool.append(l, r, n);
    };
    const FrameProgress progress = [&](std::uint64_t done) {
        state.work.fetch_add(done - reported);
        reported = done;
    };
    const int err = renderSong(out.song, options.fromUnits, options.render, sink, out.end,
                               state.stopFlag(), progress);
    if (err == kErrAudioWrite) {
        state.fail(err, "cannot keep the rendered samples beside " + out.writer->target() + ": " +
                            std::strerror(errno));
    } else if (err != 0 && err != kErrCancelled) {
        state.fail(err, *errorTextFor(err));
    }
}

void writeOne(Output& out, std::uint64_t frames, double gain, JobState& state) {
    std::vector<float> buf(2 * kCopyFrames);
    for (std::uint64_t at = 0; at < frames && !state.stopped();) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kCopyFrames, frames - at));
        const std::size_t got = out.spool.read(at, buf.data(), want);
        // Past its own end a render is silence, up to the length of the job.
        std::fill(buf.begin() + static_cast<std::ptrdiff_t>(2 * got),
                  buf.begin() + static_cast<std::ptrdiff_t>(2 * want), 0.0f);
        for (std::size_t i = 0; i < 2 * want; ++i) buf[i] = static_cast<float>(buf[i] * gain);
        if (!out.writer->write(buf.data(), want)) {
            state.fail(kErrAudioWrite, "cannot write " + out.writer->target());
            return;
        }
        at += want;
        state.work.fetch_add(want);
    }
    if (state.stopped()) return;
    if (std::string error; !out.writer->commit(error)) state.fail(kErrAudioWrite, error);
}

// How far the sum of the other outputs is from the mix.
void compareSum(const std::vector<Output>& outs, std::size_t mix, JobReport& report) {
    std::vector<float> sum(2 * kCopyFrames), buf(2 * kCopyFrames), ref(2 * kCopyFrames);
    double worst = 0.0, diffEnergy = 0.0, mixEnergy = 0.0;
    const std::uint64_t frames = report.frames;
    for (std::uint64_t at = 0; at < frames; at += kCopyFrames) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kCopyFrames, frames - at));
        std::fill(sum.begin(), sum.end(), 0.0f);
        std::fill(ref.begin(), ref.end(), 0.0f);
        outs[mix].spool.read(at, ref.data(), want);
        for (std::size_t k = 0; k < outs.size(); ++k) {
            if (k == mix) continue;
            std::fill(buf.begin(), buf.end(), 0.0f);
            outs[k].spool.read(at, buf.data(), want);
            for (std::size_t i = 0; i < 2 * want; ++i) sum[i] += buf[i];
        }
        for (std::size_t i = 0; i < 2 * want; ++i) {
            const double d = static_cast<double>(sum[i]) - ref[i];
            worst = std::max(worst, std::fabs(d));
            diffEnergy += d * d;
            mixEnergy += static_cast<double>(ref[i]) * ref[i];
        }
    }
    report.sumError = worst;
    report.sumErrorEnergy = mixEnergy > 0 ? diffEnergy / mixEnergy : 0.0;
}

// Parses every song and opens every file before any work, so that a bad
// input or an unwritable folder stops the job at once.
int prepare(const std::vector<RenderTarget>& targets, const JobOptions& options,
            std::vector<Output>& outs, std::string& error) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const RenderTarget& t = targets[i];
        Output& out = outs[i];
        if (const int err = parseSong(t.midi, out.song); err != 0) {
            error = *errorTextFor(err);
            return err;
        }
        if (options.fromUnits > out.song->lengthUnits()) {
            error = *errorTextFor(kErrOutOfRange);
            return kErrOutOfRange;
        }
        out.writer = AudioFileWriter::create(t.path, t.format, options.render.rate, error);
        if (!out.writer || !out.spool.open(t.path, error)) return kErrAudioWrite;
    }
    return 0;
}

// The events of the whole job: a stem's are its mix's, and a long gap is
// one in which no file has an event.
SoundSpan jobSpan(const std::vector<Output>& outs, std::uint32_t fromUnits) {
    std::vector<const Song*> songs;
    for (const Output& out : outs) songs.push_back(out.song.get());
    return soundSpan(songs, fromUnits);
}

// A render that fell silent in a long gap through which another sounded
// would miss what follows: these render again, through it (the span then
// has no gap before the furthest any render went to).
std::vector<std::size_t> stoppedShort(std::vector<Output>& outs, SoundSpan& span) {
    std::int64_t furthest = INT64_MIN;
    for (const Output& out : outs)
        furthest = std::max(furthest, out.end.gap ? out.end.gap->fromNs : INT64_MAX);
    std::vector<std::size_t> again;
    for (std::size_t i = 0; i < outs.size(); ++i) {
        if (outs[i].end.gap && outs[i].end.gap->fromNs < furthest) {
            outs[i].spool.clear();
            again.push_back(i);
        }
    }
    std::erase_if(span.gaps, [&](const LongGap& g) { return g.fromNs < furthest; });
    return again;
}

// What the renders say of the job: every file is as long as the longest.
void summarize(const std::vector<Output>& outs, std::uint32_t rate, JobReport& report) {
    for (const Output& out : outs) {
        report.frames = std::max(report.frames, out.end.frames);
        report.nominalFrames = std::max(report.nominalFrames, out.end.nominalFrames);
        report.stillSounding = report.stillSounding || out.end.stillSounding;
        report.peak = std::max(report.peak, static_cast<double>(out.end.peak));
        if (out.end.gap)
            report.gapFrames = nsToFrames(out.end.gap->toNs - out.end.gap->fromNs, rate);
    }
}

}  // namespace

int renderJob(const std::vector<RenderTarget>& targets, const JobOptions& jobOptions,
              JobReport& report, const std::atomic<bool>* cancel, const RenderProgress& progress) {
    report = {};
    std::vector<Output> outs(targets.size());
    if (const int err = prepare(targets, jobOptions, outs, report.error); err != 0) return err;
    JobOptions options = jobOptions;
    options.render.span = jobSpan(outs, options.fromUnits);

    // The work is every frame rendered and every frame written; until the
    // renders end, their length is estimated from the song's events.
    std::uint64_t estimate = 0;
    for (const Output& out : outs) {
        estimate += realFrames(eventFrames(*out.song, options.fromUnits, options.render.rate),
                               options.render.playback.speed) +
                    static_cast<std::uint64_t>(options.render.tailSeconds * options.render.rate);
    }
    double total = 2.0 * static_cast<double>(std::max<std::uint64_t>(estimate, 1));
    JobState state(cancel);
    auto tick = [&] {
        state.stopped();
        if (progress) progress(std::min(1.0, static_cast<double>(state.work.load()) / total));
    };
    const unsigned threads =
        options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());

    runParallel(
        outs.size(), threads, [&](std::size_t i) { renderOne(outs[i], options, state); }, tick);
    const std::vector<std::size_t> again = stoppedShort(outs, *options.render.span);
    runParallel(
        again.size(), threads, [&](std::size_t k) { renderOne(outs[again[k]], options, state); },
        tick);
    if (const int err = state.code(report.error); err != 0) return err;

    summarize(outs, options.render.rate, report);
    if (options.normalizeDb) {
        if (report.peak > 0)
            report.gain = std::pow(10.0, *options.normalizeDb / 20.0) / report.peak;
    } else if (report.peak > 1.0) {
        report.gain = 1.0 / report.peak;  // only ever down, and only when it would clip
    }
    if (options.mixIndex >= 0 && static_cast<std::size_t>(options.mixIndex) < outs.size() &&
        outs.size() > 1)
        compareSum(outs, static_cast<std::size_t>(options.mixIndex), report);

    total = static_cast<double>(state.work.load() + report.frames * outs.size());
    runParallel(
        outs.size(), threads,
        [&](std::size_t i) { writeOne(outs[i], report.frames, report.gain, state); }, tick);
    return state.code(report.error);
}

}  // namespace lirno::device
