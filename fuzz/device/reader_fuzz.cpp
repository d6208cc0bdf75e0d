// libFuzzer target for the device's playback reader: any bytes must parse
// without reading outside the buffer, and whatever parses must chase and
// schedule sanely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "device/chase.h"
#include "device/scheduler.h"
#include "device/smf_reader.h"

using namespace lirno::device;

namespace {

// Songs longer than this are only parsed and chased; walking them block by
// block would make every run slow without finding anything new.
constexpr std::uint64_t kMaxScheduledFrames = 4 * kSampleRate;

void check(bool ok) {
    if (!ok) std::abort();
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
    for (std::size_t i = 1; i < s.events.size(); ++i) check(s.events[i - 1].timeNs <= s.events[i].timeNs);
    for (const SongEvent& e : s.events) {
        check(e.timeNs >= 0 && e.timeNs <= s.endNs);
        check(e.status >= 0x80 && e.status <= 0xF0 && e.data1 < 0x80 && e.data2 < 0x80);
        if (e.status == 0xF0) check(e.sysex < s.sysex.size());
    }
    const auto song = std::make_shared<const Song>(std::move(r.song));
    const std::uint32_t length = song->lengthUnits();
    schedule(song, 0);
    schedule(song, length / 2);
    schedule(song, length);
    return 0;
}
