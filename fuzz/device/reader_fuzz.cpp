// libFuzzer target for the device's playback reader: any bytes must parse
// without reading outside the buffer, whatever parses must chase and
// schedule sanely, and reading the bytes again after a one-byte edit, from
// the song read before, must give exactly the song a fresh read gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "device/engine/scheduler.h"
#include "device/song/chase.h"
#include "device/song/smf_reader.h"
#include "midi/vocabulary.h"

using namespace lirno::device;

namespace {

// Songs longer than this are only parsed and chased; walking them block by
// block would make every run slow without finding anything new.
constexpr std::uint64_t kMaxScheduledFrames = 4 * kSampleRate;

void check(bool ok) {
    if (!ok) std::abort();
}

SharedBytes share(const std::uint8_t* data, std::size_t size) {
    auto f = std::make_shared<FileBytes>();
    f->size = size;
    f->data = std::make_unique<std::uint8_t[]>(size);
    std::copy(data, data + size, f->data.get());
    return f;
}

bool sameEvent(const Song& a, const SongEvent& x, const Song& b, const SongEvent& y) {
    if (x.timeNs != y.timeNs || x.status != y.status || x.data1 != y.data1 || x.data2 != y.data2 ||
        x.track != y.track) {
        return false;
    }
    return x.status != lirno::midi::kSysEx || std::ranges::equal(a.sysexBytes(x), b.sysexBytes(y));
}

// The input edited at one place (chosen by its own bytes), read again from
// the song of the input as it was.
void reread(const std::uint8_t* data, std::size_t size) {
    if (size < 16) return;
    SmfResult before = readSmf(share(data, size));
    if (before.error != SmfError::None) return;
    std::vector<std::uint8_t> edited(data, data + size);
    const std::size_t at = (data[size - 1] * 131u + data[size / 2]) % size;
    edited[at] = static_cast<std::uint8_t>(edited[at] ^ (data[0] | 1));
    const SmfResult again = rereadSmf(share(edited.data(), size), before.song);
    const SmfResult fresh = readSmf(edited);
    check(again.error == fresh.error);
    if (fresh.error != SmfError::None) return;
    const Song& a = again.song;
    const Song& b = fresh.song;
    check(a.events.size() == b.events.size() && a.endNs == b.endNs && a.tracks == b.tracks);
    for (std::size_t i = 0; i < a.events.size(); ++i)
        check(sameEvent(a, a.events[i], b, b.events[i]));
    for (const std::size_t end : {a.events.size() / 2, a.events.size()}) {
        const auto x = chaseState(a, end);
        const auto y = chaseState(b, end);
        check(x.size() == y.size());
        for (std::size_t i = 0; i < x.size(); ++i) check(sameEvent(a, x[i], b, y[i]));
    }
}

void schedule(const std::shared_ptr<const Song>& song, std::uint32_t from) {
    const auto plan = makePlan(song, from);
    check(plan->firstEvent <= song->events.size());
    check(plan->startFrame <= plan->endFrame);
    if (plan->endFrame - plan->startFrame > kMaxScheduledFrames) return;
    TimingProbe probe;
    Scheduler sch(nullptr);
    sch.setProbe(&probe);
    sch.start(*plan);
    std::uint64_t frames = 0;
    while (sch.playing()) {
        sch.render(nullptr, nullptr, 4096);
        frames += 4096;
        check(frames <= kMaxScheduledFrames + 8192);
    }
    check(probe.events == song->events.size() - plan->firstEvent);
    check(probe.worstFrames <= static_cast<std::int64_t>(kBlockFrames / 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SmfResult r = readSmf(std::span<const std::uint8_t>(data, size));
    if (r.error != SmfError::None) return 0;
    const Song& s = r.song;
    for (std::size_t i = 1; i < s.events.size(); ++i)
        check(s.events[i - 1].timeNs <= s.events[i].timeNs);
    for (const SongEvent& e : s.events) {
        check(e.timeNs >= 0 && e.timeNs <= s.endNs);
        check(e.status >= lirno::midi::kNoteOff && e.status <= lirno::midi::kSysEx &&
              e.data1 < 0x80 && e.data2 < 0x80);
        if (e.status == lirno::midi::kSysEx) check(e.sysex < s.sysex.size());
    }
    const auto song = std::make_shared<const Song>(std::move(r.song));
    const std::uint32_t length = song->lengthUnits();
    schedule(song, 0);
    schedule(song, length / 2);
    schedule(song, length);
    reread(data, size);
    return 0;
}
