// The device's MIDI ports: what comes in (heard at once, and recorded
// against the song), and a port played to instead of the synthesizer.
#include <algorithm>
#include <cstring>
#include <thread>

#include "device/engine/fluid_device.h"
#include "device/errors.h"
#include "device/song/timing.h"
#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

using Clock = std::chrono::steady_clock;

// While a port plays, or a farewell is due, the worker looks this often.
constexpr auto kPortWatch = std::chrono::milliseconds(5);
constexpr auto kPortIdleWatch = std::chrono::milliseconds(250);
// A port no longer played to gets this long to send its farewell.
constexpr auto kFarewellWait = std::chrono::milliseconds(500);
// ... and this long when the device goes.
constexpr auto kExitFarewellWait = std::chrono::milliseconds(100);

constexpr std::int16_t kNoKey = -1;
constexpr std::int16_t kDroppedKey = -2;

std::int64_t framesToNs(std::int64_t frames) {
    const std::int64_t rate = kSampleRate;
    return frames / rate * kNsPerSecond + frames % rate * kNsPerSecond / rate;
}

// The tick nearest to a time of the song (a tick may be a few ms long).
std::uint32_t nearestTick(const SongTiming& timing, std::int64_t ns) {
    const std::uint64_t tick = timing.nsToTick(ns);
    const bool later = timing.tickToNs(tick + 1) - ns < ns - timing.tickToNs(tick);
    return static_cast<std::uint32_t>(later ? tick + 1 : tick);
}

// Program changes and bank selects from the keyboard are not heard: the
// instrument of the song's channel wins.
bool heardLive(std::uint8_t status, std::uint8_t data1) {
    const std::uint8_t kind = midi::statusKind(status);
    if (kind == midi::kProgramChange) return false;
    return kind != midi::kControlChange ||
           (data1 != midi::cc::kBankMsb && data1 != midi::cc::kBankLsb);
}

// What a recording keeps of what is heard: the playing, not the mix (volume,
// pan) nor the channel's mode.
bool keptLive(std::uint8_t status, std::uint8_t data1) {
    if (midi::statusKind(status) != midi::kControlChange) return true;
    return data1 != midi::cc::kVolume && data1 != midi::cc::kPan && data1 < midi::cc::kAllSoundOff;
}

bool isNoteOn(std::uint8_t status, std::uint8_t velocity) {
    return midi::statusKind(status) == midi::kNoteOn && velocity > 0;
}
bool isNoteOff(std::uint8_t status, std::uint8_t velocity) {
    const std::uint8_t kind = midi::statusKind(status);
    return kind == midi::kNoteOff || (kind == midi::kNoteOn && velocity == 0);
}

}  // namespace

// ---------------------------------------------------------------- control side

int FluidDevice::setOutputPort(const std::string& port) {
    {
        // The port the device was made with is opened at start-up: asked for
        // again, it is that one.
        std::unique_lock lk(m_);
        ready_.wait(lk, [this] { return inputTried_; });
        if (port.empty() ? !link_ : (link_ && (link_->asked == port || link_->out->port() == port)))
            return 0;
    }
    std::unique_ptr<PortLink> link;
    if (!port.empty()) {
        if (!settings_.ports) return kErrMidiPort;
        link = std::make_unique<PortLink>(*this);
        link->asked = port;
        int error = kErrMidiPort;
        link->out = settings_.ports->openOutput(port, *link, error);
        if (!link->out) return error != 0 ? error : kErrMidiPort;
    }
    Lock lk(m_);
    switchPort(lk, std::move(link));
    return 0;
}

std::string FluidDevice::outputPort() const {
    std::lock_guard lk(m_);
    return link_ ? link_->out->port() : std::string{};
}

bool FluidDevice::inputConnected() const {
    std::lock_guard lk(m_);
    return input_ && input_->connected();
}

// A song's presets are read whole for the keys only while a keyboard is
// connected: every desktop with a sequencer opens the input, and reading
// whole presets for every song there would cost a large SoundFont's worth
// of memory. Never under m_.
bool FluidDevice::keyboardConnected() const {
    return liveInput_.load(std::memory_order_relaxed) && inputConnected();
}

void FluidDevice::setInputChannel(int channel) {
    inputChannel_.store(std::clamp(channel, 0, midi::kChannels - 1), std::memory_order_relaxed);
}

int FluidDevice::startRecording() {
    Lock lk(m_);
    ready_.wait(lk, [this] { return inputTried_; });
    if (!input_) return kErrNoMidiInput;
    Stamped stale;
    while (stamped_.pop(stale)) {
    }
    rec_ = Recording{};
    rec_.on = true;
    rec_.channel = static_cast<std::uint8_t>(inputChannel_.load(std::memory_order_relaxed));
    drainEnded();
    if (active_) noteTiming(active_->serial, *songs_.at(active_->id).song);
    if (++nextGen_ == 0) nextGen_ = 1;
    recordGen_.store(nextGen_, std::memory_order_release);
    return 0;
}

// Notes still down and a pedal still held are let go where the song is
// heard now (or at the last thing kept, when it no longer plays).
std::vector<RecordedEvent> FluidDevice::stopRecording() {
    Lock lk(m_);
    recordGen_.store(0, std::memory_order_release);
    if (!rec_.on) return {};
    takeRecorded();
    drainEnded();
    std::uint32_t at = 0;
    for (const RecordedEvent& e : rec_.events) at = std::max(at, e.tick);
    const PlayAnchor a = playAnchor();
    if (active_ && a.serial == active_->serial) {
        const auto it = rec_.timings.find(a.serial);
        const std::int64_t frame =
            static_cast<std::int64_t>(publishedFrame_.load(std::memory_order_acquire)) -
            a.latency * a.speed / 100;
        if (it != rec_.timings.end() && it->second) {
            at = nearestTick(*it->second, framesToNs(std::max<std::int64_t>(frame, 0)));
        }
    }
    const auto ch = rec_.channel;
    for (std::size_t key = 0; key < rec_.held.size(); ++key) {
        if (rec_.held.test(key)) {
            rec_.events.push_back({at, static_cast<std::uint8_t>(midi::kNoteOff | ch),
                                   static_cast<std::uint8_t>(key), 0});
        }
    }
    if (rec_.pedal) {
        rec_.events.push_back(
            {at, static_cast<std::uint8_t>(midi::kControlChange | ch), midi::cc::kSustain, 0});
    }
    std::vector<RecordedEvent> out = std::move(rec_.events);
    rec_ = Recording{};
    lk.unlock();
    std::stable_sort(out.begin(), out.end(), [](const RecordedEvent& x, const RecordedEvent& y) {
        return x.tick < y.tick;
    });
    return out;
}

// Under m_: a play that starts while recording can be stamped against.
void FluidDevice::noteTiming(std::uint64_t serial, const Song& song) {
    if (rec_.on) rec_.timings[serial] = song.timing;
}

// Under m_: what the ports' thread stamped, into the song's ticks.
void FluidDevice::takeRecorded() {
    Stamped s;
    while (stamped_.pop(s)) {
        if (!rec_.on) continue;
        const auto it = rec_.timings.find(s.serial);
        if (it == rec_.timings.end() || !it->second) continue;  // no timing: no ticks
        keepRecorded({nearestTick(*it->second, framesToNs(s.frame)), s.status, s.data1, s.data2});
    }
}

void FluidDevice::keepRecorded(const RecordedEvent& e) {
    if (isNoteOn(e.status, e.data2)) {
        rec_.held.set(e.data1 & 0x7F);
    } else if (isNoteOff(e.status, e.data2)) {
        rec_.held.reset(e.data1 & 0x7F);
    } else if (midi::statusKind(e.status) == midi::kControlChange &&
               e.data1 == midi::cc::kSustain) {
        rec_.pedal = e.data2 >= 64;
    }
    rec_.channel = midi::channelOf(e.status);
    rec_.events.push_back(e);
}

// ---------------------------------------------------------------- worker

void FluidDevice::openPorts() {
    std::unique_ptr<MidiInput> input;
    std::unique_ptr<PortLink> link;
    if (settings_.ports) {
        input = settings_.ports->openInput(*this);
        liveInput_.store(input != nullptr, std::memory_order_relaxed);
        if (!settings_.midiOut.empty()) {
            link = std::make_unique<PortLink>(*this);
            link->asked = settings_.midiOut;
            int error = 0;
            link->out = settings_.ports->openOutput(settings_.midiOut, *link, error);
            if (!link->out) link.reset();  // the synthesizer plays then
        }
    }
    {
        Lock lk(m_);
        input_ = std::move(input);
        inputTried_ = true;
        if (link) switchPort(lk, std::move(link));
    }
    ready_.notify_all();
}

// Under m_: `link` (null: the synthesizer) becomes the output. The old port
// gets its farewell to send; a play under way goes on through the new one
// from where it is.
void FluidDevice::switchPort(Lock& lk, std::unique_ptr<PortLink> link) {
    std::unique_ptr<PortLink> old = std::move(link_);
    {
        const SynthClaim claim(synthInUse_);  // the audio side is not rendering meanwhile
        const bool farewell = old && !old->lost.load(std::memory_order_acquire);
        scheduler_.retarget(link ? link->out.get() : nullptr, farewell ? &old->farewell : nullptr);
        current_ = nullptr;
        inUse_.store(nullptr);
        activeLink_.store(link.get(), std::memory_order_release);
    }
    if (old) {
        old->retiredAt = Clock::now();
        old->farewellDue.store(true, std::memory_order_release);
        retired_.push_back(std::move(old));
    }
    link_ = std::move(link);
    clockRunning_ = false;  // the silent clock starts afresh, not from before the port
    // Back to a synthesizer that cannot sound: the play under way fails as
    // a play started now would.
    const int synthError = soundFontMissing_ ? kErrNoSoundFont : (started_ ? startupError_ : 0);
    if (!link_ && synthError != 0) interruptActive(kNotifyFailure, synthError);
    if (std::unique_ptr<PlayPlan> plan = planHere(lk)) {
        // The synthesizer reads the song's presets first.
        const bool pins = !link_ && mode_ != Mode::Silent;
        awaitingPins_ = pins ? plan.get() : nullptr;
        mailbox_.store(pins ? nullptr : plan.get());
        plans_.push_back(std::move(plan));
    }
    collectPlans();
    wake_.notify_all();
}

// While a port is the output: it is the clock, so the worker only watches
// for its loss, a play's end, and ports that owe their farewell.
void FluidDevice::servePort(Lock& lk) {
    retirePorts(lk, false);
    if (link_ && link_->lost.load(std::memory_order_acquire)) {
        portLost(lk);
        return;
    }
    if (!link_) {
        // Back to the synthesizer once the old ports have said farewell.
        wake_.wait_for(lk, kPortWatch);
        return;
    }
    if (output_ && !busy()) closeOutput(lk);
    const bool watch = busy() || rec_.on || !retired_.empty();
    wake_.wait_for(lk, watch ? kPortWatch : kPortIdleWatch);
}

// As a lost audio output: the play fails, and the synthesizer is the output
// again so that the next play sounds.
void FluidDevice::portLost(Lock& lk) {
    interruptActive(kNotifyFailure, kErrMidiPortLost);
    std::unique_ptr<PortLink> dead = std::move(link_);
    {
        const SynthClaim claim(synthInUse_);
        scheduler_.retarget(nullptr, nullptr);
        current_ = nullptr;
        inUse_.store(nullptr);
        mailbox_.store(nullptr);
        activeLink_.store(nullptr, std::memory_order_release);
    }
    awaitingPins_ = nullptr;
    clockRunning_ = false;
    collectPlans();
    lk.unlock();
    dead.reset();
    lk.lock();
}

// Lets go of the ports that have sent their farewell (or had their time),
// or, with `all`, of every port, the output too, after a last farewell.
void FluidDevice::retirePorts(Lock& lk, bool all) {
    if (all && link_) {
        std::unique_ptr<PortLink> last = std::move(link_);
        {
            const SynthClaim claim(synthInUse_);
            scheduler_.retarget(nullptr, last->lost ? nullptr : &last->farewell);
            activeLink_.store(nullptr, std::memory_order_release);
        }
        last->retiredAt = Clock::now();
        last->farewellDue.store(true, std::memory_order_release);
        retired_.push_back(std::move(last));
    }
    const auto owes = [](const PortLink& p) {
        return p.farewellDue.load(std::memory_order_acquire) &&
               !p.lost.load(std::memory_order_acquire);
    };
    const auto deadline = Clock::now() + kExitFarewellWait;
    while (all && Clock::now() < deadline &&
           std::any_of(retired_.begin(), retired_.end(), [&](auto& p) { return owes(*p); })) {
        lk.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lk.lock();
    }
    std::vector<std::unique_ptr<PortLink>> done;
    for (auto& p : retired_) {
        if (all || !owes(*p) || Clock::now() - p->retiredAt > kFarewellWait) {
            done.push_back(std::move(p));
        }
    }
    std::erase(retired_, nullptr);
    if (done.empty()) return;
    lk.unlock();
    done.clear();  // each output stops calling before it goes
    lk.lock();
}

// ---------------------------------------------------------------- audio side

void FluidDevice::renderPort(PortLink& link, std::size_t frames) noexcept {
    if (&link == activeLink_.load(std::memory_order_acquire)) {
        renderAudio(nullptr, nullptr, frames, &link);
        return;
    }
    if (!link.farewellDue.load(std::memory_order_acquire)) return;
    const auto& bytes = link.farewell;
    for (std::size_t i = 0; i + 3 <= bytes.size(); i += 3) {
        link.out->send(0, std::span(bytes).subspan(i, 3));
    }
    link.farewellDue.store(false, std::memory_order_release);
}

// ---------------------------------------------------------------- ports' thread

void FluidDevice::midiIn(const MidiInEvent& event) noexcept {
    if (!midi::isChannelStatus(event.status)) return;
    MidiInEvent e = event;
    e.status = static_cast<std::uint8_t>(midi::statusKind(event.status) |
                                         inputChannel_.load(std::memory_order_relaxed));
    if (!heardLive(e.status, e.data1)) return;
    const std::int64_t now = steadyNowNs();
    MidiInEvent live = e;
    live.timeNs = now;
    if (!live_.push(live)) inputDropped_.fetch_add(1, std::memory_order_relaxed);
    lastInputNs_.store(now, std::memory_order_release);
    stamp(e);
}

// Where in the song the player heard it, in the song's own key: stamped
// here from the published anchor, without a lock; the worker keeps it.
void FluidDevice::stamp(MidiInEvent e) noexcept {
    const std::uint32_t gen = recordGen_.load(std::memory_order_acquire);
    if (gen == 0 || !keptLive(e.status, e.data1)) return;
    if (gen != recKeysGen_) {
        recKeysGen_ = gen;
        recKeys_.fill(kNoKey);
    }
    const PlayAnchor a = playAnchor();
    if (a.serial == 0) return;  // nothing plays: heard, not kept
    const bool drum = midi::channelOf(e.status) == midi::kDrumChannel;
    const int shift = drum ? 0 : transpose_.load(std::memory_order_relaxed);
    const std::uint8_t kind = midi::statusKind(e.status);
    if (isNoteOn(e.status, e.data2)) {
        const int key = e.data1 - shift;
        const bool out = key < 0 || key > 127;
        recKeys_[e.data1 & 0x7F] = out ? kDroppedKey : static_cast<std::int16_t>(key);
        if (out) return;
        e.data1 = static_cast<std::uint8_t>(key);
    } else if (isNoteOff(e.status, e.data2)) {
        const std::int16_t key = recKeys_[e.data1 & 0x7F];
        recKeys_[e.data1 & 0x7F] = kNoKey;
        if (key < 0) return;  // dropped with its note-on, or struck before recording
        e.data1 = static_cast<std::uint8_t>(key);
    } else if (kind == midi::kKeyPressure) {
        const int key = e.data1 - shift;
        if (key < 0 || key > 127) return;
        e.data1 = static_cast<std::uint8_t>(key);
    }
    const Stamped s{a.serial, songFrameAt(a, e.timeNs), e.status, e.data1, e.data2};
    if (!stamped_.push(s)) inputDropped_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace lirno::device
