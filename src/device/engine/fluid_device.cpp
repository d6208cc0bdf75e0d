#include "device/engine/fluid_device.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "device/engine/fluid_log.h"
#include "device/errors.h"
#include "device/files.h"
#include "device/song/chase.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "device/soundfont/discovery.h"
#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

using Clock = std::chrono::steady_clock;

// The silent clock wakes this often while playing, and the worker looks this
// often for a play that the audio side reports ended; position and notices
// are never later than this (plus one block).
constexpr auto kClockTick = std::chrono::milliseconds(5);

// While playing, the worker looks this often whether the output still pulls.
constexpr auto kOutputWatch = std::chrono::milliseconds(250);

// With the audio output closed, the worker looks this often whether a key
// was played (the ports' thread wakes nobody).
constexpr auto kInputWatch = std::chrono::milliseconds(10);

// A key that waited longer than this for an output to sound it (one could
// not open) is dropped: sounded that late, with the others that waited, it
// is a burst of noise, not playing along.
constexpr std::int64_t kStaleInputNs = 1'000'000'000;

std::uint64_t framesSince(Clock::time_point start, Clock::time_point now) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start).count();
    return nsToFrames(ns, kSampleRate);
}

// The player's passage plays over and over.
std::optional<PlanPassage> livePassage(const PlaybackSettings& s) {
    if (!s.passage) return std::nullopt;
    return PlanPassage{*s.passage, true};
}

std::uint32_t unitsAt(std::int64_t ns) {
    return static_cast<std::uint32_t>(ns / kNsPerUnit);
}

// A keyboard may play any key, at any velocity, with the instruments the
// song selects and those a reset selects (the piano and the standard kit).
void widenForKeys(PresetNotes& played, std::set<PresetRef>& asked) {
    played[PresetRef{0, 0}];
    played[PresetRef{128, 0}];
    for (auto& [preset, notes] : played) {
        for (auto& velocities : notes.keys) velocities.set();
        asked.insert(preset);
    }
}

bool allFound(const std::vector<std::string>& paths) {
    return !paths.empty() && std::all_of(paths.begin(), paths.end(),
                                         [](const std::string& p) { return isRegularFile(p); });
}

}  // namespace

DeviceSettings settingsFromEnvironment() {
    DeviceSettings s;
    s.soundFont = findSoundFont();
    if (const char* a = std::getenv("LIRNO_AUDIO"); a != nullptr) s.audioDriver = a;
    if (const char* o = std::getenv("LIRNO_MIDI_OUT"); o != nullptr) s.midiOut = o;
    s.ports = systemMidiPorts();
    return s;
}

std::unique_ptr<Device> makeDevice() {
    return std::make_unique<FluidDevice>(settingsFromEnvironment());
}

FluidDevice::Mode FluidDevice::modeFor(const std::string& driver) {
    if (driver == kAudioNone) return Mode::Silent;
    if (driver == kAudioManual) return Mode::Manual;
    return Mode::Output;
}

FluidDevice::FluidDevice(DeviceSettings settings)
    : settings_(std::move(settings)),
      mode_(modeFor(settings_.audioDriver)),
      soundFontMissing_(mode_ != Mode::Silent && !allFound(splitFontList(settings_.soundFont))),
      worker_([this] { workerMain(); }) {}

FluidDevice::~FluidDevice() {
    {
        // Nothing comes in from here on.
        std::unique_ptr<MidiInput> input;
        {
            std::lock_guard lk(m_);
            input = std::move(input_);
        }
    }
    {
        std::lock_guard lk(m_);
        drainEnded();
        interruptActive(kNotifyAborted);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();  // delivers the last notices and closes the output
    output_.reset();
    scheduler_.setSynth(nullptr);
    synth_.reset();
}

// ---------------------------------------------------------------- control side

int FluidDevice::open(const std::string& path, DeviceId& id, std::uint32_t& length) {
    // The player rewrites one play file after each edit and opens it again:
    // what did not change is taken from the song read from it before.
    std::shared_ptr<const Song> before;
    {
        std::lock_guard lk(m_);
        if (lastRead_.path == path) before = lastRead_.song;
    }
    std::shared_ptr<const Song> song;
    if (const int err = loadSongFile(path, song, before.get()); err != 0) return err;
    {
        std::lock_guard lk(m_);
        if (lastRead_.song) garbage_.push_back(std::move(lastRead_.song));
        lastRead_ = {path, song};
    }
    before.reset();  // the worker frees it if it was the last reference
    return addSong(std::move(song), id, length);
}

int FluidDevice::openBytes(std::span<const std::uint8_t> bytes, DeviceId& id,
                           std::uint32_t& length) {
    std::shared_ptr<const Song> song;
    if (const int err = parseSong(bytes, song); err != 0) return err;
    return addSong(std::move(song), id, length);
}

int FluidDevice::addSong(std::shared_ptr<const Song> song, DeviceId& id, std::uint32_t& length) {
    song = thinner_.thin(std::move(song));
    const std::uint32_t len = song->lengthUnits();
    const DeviceId newId = nextSongId();
    {
        std::lock_guard lk(m_);
        songs_.emplace(newId, OpenSong{std::move(song), len, 0});
    }
    id = newId;
    length = len;
    return 0;
}

int FluidDevice::play(DeviceId id, std::uint32_t from, Notifier notifier) {
    std::shared_ptr<const Song> song;
    std::optional<PlanPassage> passage;
    {
        std::lock_guard lk(m_);
        const auto it = songs_.find(id);
        if (it == songs_.end()) return kErrUnknownId;
        if (from > it->second.length) return kErrOutOfRange;
        // A port needs no SoundFont.
        if (soundFontMissing_ && !link_) return kErrNoSoundFont;
        if (started_ && startupError_ != 0 && !link_) return startupError_;
        song = it->second.song;
        passage = livePassage(playback_);
    }
    // Chasing a long song takes a while; the audio side must not wait for it.
    std::unique_ptr<PlayPlan> plan = makePlan(song, from, kSampleRate, passage);
    // The manual clock is the caller's own thread: it pins at once, so what
    // it renders stays exactly reproducible.
    const bool pinNow = mode_ == Mode::Manual && outputPort().empty() && waitReady() == 0;
    if (pinNow) pinFor(*song);
    {
        std::lock_guard lk(m_);
        const auto it = songs_.find(id);
        if (it == songs_.end()) return kErrUnknownId;  // closed meanwhile
        if (started_ && startupError_ != 0 && !link_) return startupError_;
        drainEnded();
        interruptActive(kNotifyAborted);
        plan->serial = nextSerial_++;
        active_ = ActivePlay{plan->serial, id, std::move(notifier), unitsAt(plan->startNs)};
        it->second.failure = 0;
        noteTiming(plan->serial, *plan->song);
        // Until the worker has pinned the song's presets, the old play stops.
        if (mode_ == Mode::Silent || pinNow || link_) {
            mailbox_.store(plan.get());
        } else {
            awaitingPins_ = plan.get();
            mailbox_.store(&haltPlan_);
        }
        plans_.push_back(std::move(plan));
        collectPlans();
    }
    wake_.notify_all();
    return 0;
}

int FluidDevice::stop(DeviceId id) {
    return halt(id);
}

// A pause is a stop that remembers where it was: the caller resumes with
// play(from = position).
int FluidDevice::pause(DeviceId id) {
    return halt(id);
}

int FluidDevice::halt(DeviceId id) {
    {
        std::lock_guard lk(m_);
        if (songs_.find(id) == songs_.end()) return kErrUnknownId;
        drainEnded();
        if (!active_ || active_->id != id) return 0;
        interruptActive(kNotifyAborted);
        sendHalt();
    }
    wake_.notify_all();
    return 0;
}

int FluidDevice::close(DeviceId id) {
    {
        std::lock_guard lk(m_);
        const auto it = songs_.find(id);
        if (it == songs_.end()) return kErrUnknownId;
        drainEnded();
        if (active_ && active_->id == id) {
            interruptActive(kNotifyAborted);
            sendHalt();
        }
        garbage_.push_back(std::move(it->second.song));
        songs_.erase(it);
    }
    wake_.notify_all();
    return 0;
}

int FluidDevice::position(DeviceId id, std::uint32_t& pos) {
    std::lock_guard lk(m_);
    const auto it = songs_.find(id);
    if (it == songs_.end()) return kErrUnknownId;
    drainEnded();
    pos = (active_ && active_->id == id) ? activeUnits() : it->second.stoppedAt;
    return 0;
}

int FluidDevice::failure(DeviceId id) const {
    std::lock_guard lk(m_);
    const auto it = songs_.find(id);
    return it == songs_.end() ? 0 : it->second.failure;
}

int FluidDevice::setPlayback(const PlaybackSettings& settings) {
    if (!validPlayback(settings)) return kErrOutOfRange;
    speed_.store(settings.speed, std::memory_order_relaxed);
    transpose_.store(settings.transpose, std::memory_order_relaxed);
    Lock lk(m_);
    const bool moved = settings.passage != playback_.passage;
    playback_ = settings;
    if (moved) replan(lk);
    return 0;
}

// A new passage (or none) for the play under way: it starts again where it
// is, or at the passage's start when that is outside it.
void FluidDevice::replan(Lock& lk) {
    std::unique_ptr<PlayPlan> plan = planHere(lk);
    if (!plan) return;
    // A play still waiting for its presets waits on with the new plan.
    if (awaitingPins_ != nullptr) {
        awaitingPins_ = plan.get();
    } else {
        mailbox_.store(plan.get());
    }
    plans_.push_back(std::move(plan));
    collectPlans();
    wake_.notify_all();
}

// The active play from where it is now (or its passage's start), as a new
// plan that has taken over its serial; null when nothing plays.
std::unique_ptr<PlayPlan> FluidDevice::planHere(Lock& lk) {
    drainEnded();
    if (!active_) return nullptr;
    const std::uint64_t serial = active_->serial;
    const std::uint32_t at = activeUnits();
    std::shared_ptr<const Song> song = songs_.at(active_->id).song;
    const std::optional<PlanPassage> passage = livePassage(playback_);
    lk.unlock();
    std::unique_ptr<PlayPlan> plan = makePlan(std::move(song), at, kSampleRate, passage);
    lk.lock();
    if (!active_ || active_->serial != serial) {  // stopped or replaced meanwhile
        garbage_.emplace_back(std::move(plan));
        return nullptr;
    }
    plan->serial = nextSerial_++;
    active_->serial = plan->serial;
    active_->from = unitsAt(plan->startNs);
    noteTiming(plan->serial, *plan->song);
    return plan;
}

// The new synthesizer is made here, on the caller's thread, so that a font
// that cannot be read is refused before anything changes; the worker puts
// it in place.
int FluidDevice::setSound(const SoundSettings& settings) {
    const SoundSettings sound = withFonts(settings, settings_.soundFont);
    {
        std::lock_guard lk(m_);
        // The same sound again (a dialog closed without a change): no restart.
        if (sound == withFonts(sound_, settings_.soundFont) && !soundFontMissing_ &&
            startupError_ == 0) {
            sound_ = settings;
            return 0;
        }
    }
    std::unique_ptr<SynthInstance> synth;
    if (mode_ == Mode::Silent) {
        if (!allFound(sound.soundFonts)) return kErrNoSoundFont;
    } else {
        int error = 0;
        synth = createSynth(sound, error, kSampleRate, 0, FontUse::AsPlayed);
        if (!synth) return error;
    }
    // The manual clock is the caller's own thread: the new sound is in
    // place when this returns, so what it renders stays reproducible.
    if (mode_ == Mode::Manual) waitReady();
    Lock lk(m_);
    sound_ = settings;
    soundFontMissing_ = false;
    if (started_) startupError_ = 0;
    if (synth) newSynth_ = std::move(synth);
    if (mode_ == Mode::Manual) changeSound(lk);
    lk.unlock();
    wake_.notify_all();
    return 0;
}

std::optional<std::string> FluidDevice::errorText(int code) const {
    std::lock_guard lk(m_);
    if (code == kErrAudioOutput && !driversTried_.empty()) {
        return "No audio output could be opened (tried " + driversTried_ +
               "): set LIRNO_AUDIO to a working driver, or to none to play silently.";
    }
    return errorTextFor(code);
}

int FluidDevice::waitReady() {
    std::unique_lock lk(m_);
    ready_.wait(lk, [this] { return started_; });
    return startupError_ != 0 ? startupError_ : outputError_;
}

std::string FluidDevice::outputName() const {
    std::lock_guard lk(m_);
    return outputName_;
}

bool FluidDevice::outputOpen() const {
    std::lock_guard lk(m_);
    return output_ != nullptr;
}

// Where the active play is: its start until the audio side has taken it up.
std::uint32_t FluidDevice::activeUnits() const {
    if (publishedSerial_.load(std::memory_order_acquire) != active_->serial) return active_->from;
    const auto& s = songs_.at(active_->id);
    return std::min(framesToUnits(publishedFrame_.load(std::memory_order_acquire), kSampleRate),
                    s.length);
}

// The audio side reports a finished play here; whichever of this and an
// interruption comes first decides the play's one notice.
void FluidDevice::drainEnded() {
    const std::uint64_t ended = endedSerial_.exchange(0);
    if (ended == 0) return;
    if (active_ && active_->serial == ended) {
        if (auto it = songs_.find(active_->id); it != songs_.end()) {
            it->second.stoppedAt = it->second.length;
        }
        notices_.push_back({std::move(active_->notifier), active_->id, kNotifySuccessful});
        active_.reset();
        wake_.notify_all();
    }
}

// The active play ends before its end: its one notice says it was aborted,
// or that it failed, and failure() then gives `code`.
void FluidDevice::interruptActive(int notice, int code) {
    if (!active_) return;
    if (auto it = songs_.find(active_->id); it != songs_.end()) {
        it->second.stoppedAt = activeUnits();
        if (notice == kNotifyFailure) it->second.failure = code;
    }
    notices_.push_back({std::move(active_->notifier), active_->id, notice});
    active_.reset();
    awaitingPins_ = nullptr;
    wake_.notify_all();
}

// Only while no output runs: the audio side's state, as after a halt.
void FluidDevice::resetAudioSide() {
    mailbox_.store(nullptr);
    awaitingPins_ = nullptr;
    if (synthReady_.load(std::memory_order_acquire) && !link_) scheduler_.halt();
    current_ = nullptr;
    inUse_.store(nullptr);
}

void FluidDevice::sendHalt() {
    awaitingPins_ = nullptr;
    mailbox_.store(&haltPlan_);
    collectPlans();
}

// A plan is freed once the audio side can no longer reach it: not waiting in
// the mailbox, not being taken, not playing.
void FluidDevice::collectPlans() {
    const PlayPlan* waiting = mailbox_.load();
    const PlayPlan* taking = taking_.load();
    const PlayPlan* playing = inUse_.load();
    for (auto& p : plans_) {
        if (p.get() != waiting && p.get() != taking && p.get() != playing &&
            p.get() != awaitingPins_) {
            garbage_.emplace_back(std::move(p));
        }
    }
    std::erase(plans_, nullptr);
}

bool FluidDevice::busy() const {
    return active_.has_value() || inUse_.load() != nullptr || mailbox_.load() != nullptr ||
           awaitingPins_ != nullptr;
}

// ---------------------------------------------------------------- audio side

void FluidDevice::render(float* left, float* right, std::size_t frames) noexcept {
    lastPullNs_.store(steadyNowNs(), std::memory_order_relaxed);
    if (activeLink_.load(std::memory_order_acquire) != nullptr) {
        std::memset(left, 0, frames * sizeof(float));
        std::memset(right, 0, frames * sizeof(float));
        return;
    }
    pace_.hold(frames);
    renderAudio(left, right, frames);
}

// The worker polls this while playing: the audio side wakes nobody.
void FluidDevice::outputLost() noexcept {
    lost_.store(true, std::memory_order_release);
}

void FluidDevice::renderManual(float* left, float* right, std::size_t frames) noexcept {
    if (mode_ != Mode::Manual) return;
    renderAudio(left, right, frames);
}

void FluidDevice::renderAudio(float* left, float* right, std::size_t frames,
                              const PortLink* caller) noexcept {
    const AudioScope audioSide;
    SynthClaim claim;
    // Only the device's output plays: the audio output is silent while a
    // port is, and a port no longer chosen plays nothing.
    const bool mine =
        claim.tryTake(synthInUse_) && caller == activeLink_.load(std::memory_order_acquire);
    const bool ready =
        caller != nullptr || mode_ == Mode::Silent || synthReady_.load(std::memory_order_acquire);
    if (!mine || !ready) {
        if (left != nullptr) std::memset(left, 0, frames * sizeof(float));
        if (right != nullptr) std::memset(right, 0, frames * sizeof(float));
        MidiInEvent dropped;
        if (mine) {
            while (live_.pop(dropped)) {
            }  // nothing to hear it with yet
        }
        return;
    }
    std::int64_t callNs = steadyNowNs();
    if (caller != nullptr) {
        if (const std::int64_t at = caller->out->callStartNs(); at != 0) callNs = at;
    }
    const std::uint64_t serialBefore = current_ != nullptr ? current_->serial : 0;
    const auto frameBefore = static_cast<std::int64_t>(scheduler_.songFrame());
    scheduler_.render(left, right, frames, [this]() noexcept { settle(); });
    if (scheduler_.playing()) {
        publishedFrame_.store(scheduler_.songFrame(), std::memory_order_release);
    }
    settle();
    publishAnchor(callNs, serialBefore, frameBefore, frames, caller != nullptr);
}

// Where the song is heard, for stamping what comes in. A card plays a block
// after it was rendered; the silent clock renders time already gone by; a
// port's call renders frames that start at the call (a JACK cycle's, on the
// same frame clock as what comes in) or when the port says (ALSA's queue
// runs ahead), whatever the audio output.
void FluidDevice::publishAnchor(std::int64_t ns, std::uint64_t serialBefore,
                                std::int64_t frameBefore, std::size_t frames, bool port) noexcept {
    PlayAnchor a;
    a.speed = speed_.load(std::memory_order_relaxed);
    if (current_ == nullptr || !scheduler_.playing()) {
        anchor_.publish(a);
        return;
    }
    a.serial = current_->serial;
    a.ns = ns;
    a.frame = frameBefore;
    if (mode_ == Mode::Output && !port) a.latency = static_cast<std::int64_t>(frames);
    if ((mode_ == Mode::Silent && !port) || serialBefore != a.serial) {
        a.ns = steadyNowNs();
        a.frame = static_cast<std::int64_t>(scheduler_.songFrame());
        a.latency = 0;
    }
    if (current_->loops) {
        a.loopFrame = static_cast<std::int64_t>(current_->loopFrame);
        a.endFrame = static_cast<std::int64_t>(current_->endFrame);
    }
    anchor_.publish(a);
}

PlayAnchor FluidDevice::playAnchor() const noexcept {
    PlayAnchor a;
    if (!anchor_.read(a)) a.serial = 0;
    return a;
}

// What came in since the last block start, heard now on the input channel
// (its time here is when it reached us).
void FluidDevice::hearInput() noexcept {
    MidiInEvent e;
    std::int64_t now = 0;
    while (live_.pop(e)) {
        if (now == 0) now = steadyNowNs();
        if (now - e.timeNs <= kStaleInputNs) scheduler_.playLive(e.status, e.data1, e.data2);
    }
}

// At block starts: report a play that has ended and take up a waiting
// command, without a lock: the worker and the callers look at what is
// published here when they next run.
void FluidDevice::settle() noexcept {
    scheduler_.setSpeed(speed_.load(std::memory_order_relaxed));
    scheduler_.setTranspose(transpose_.load(std::memory_order_relaxed));
    hearInput();
    if (current_ != nullptr && !scheduler_.playing()) {
        publishedFrame_.store(scheduler_.songFrame(), std::memory_order_release);
        endedSerial_.store(current_->serial);
        current_ = nullptr;
        inUse_.store(nullptr);
    }
    const PlayPlan* cmd = mailbox_.load(std::memory_order_acquire);
    if (cmd == nullptr) return;
    // Named before it is taken, so that it is not freed in between; if the
    // control side has meanwhile put a newer command in its place, that one
    // is taken at the next block.
    taking_.store(cmd);
    if (mailbox_.compare_exchange_strong(cmd, nullptr)) {
        if (cmd == &haltPlan_) {
            scheduler_.halt();
            current_ = nullptr;
        } else {
            scheduler_.start(*cmd);
            current_ = cmd;
            publishedFrame_.store(cmd->startFrame, std::memory_order_release);
            publishedSerial_.store(cmd->serial, std::memory_order_release);
        }
        inUse_.store(current_);
    }
    taking_.store(nullptr);
}

// ---------------------------------------------------------------- worker

void FluidDevice::workerMain() {
    startUp();
    std::unique_lock lk(m_);
    while (true) {
        drainEnded();
        collectPlans();
        takeRecorded();
        followChase(lk);
        if (!garbage_.empty()) {
            auto dead = std::move(garbage_);
            garbage_.clear();
            lk.unlock();
            dead.clear();
            lk.lock();
            continue;
        }
        if (!notices_.empty()) {
            std::deque<Notice> batch;
            batch.swap(notices_);
            lk.unlock();
            deliver(std::move(batch));
            lk.lock();
            continue;
        }
        if (quit_) break;
        if (newSynth_) {
            changeSound(lk);
            continue;
        }
        if (awaitingPins_ != nullptr && synthReady_.load(std::memory_order_acquire)) {
            pinPresets(lk);
            continue;
        }
        if (!keysRead_ && !link_ && synthReady_.load(std::memory_order_acquire) && input_ &&
            input_->connected()) {
            readKeys(lk);
            continue;
        }
        if (link_ || !retired_.empty()) {
            servePort(lk);
        } else if (mode_ == Mode::Silent) {
            runClock(lk);
        } else if (mode_ == Mode::Output) {
            manageOutput(lk);
        } else if (busy()) {
            wake_.wait_for(lk, kClockTick);  // the audio side's news is polled
        } else {
            wake_.wait(lk);
        }
    }
    closeOutput(lk);
    retirePorts(lk, true);
    input_.reset();
}

// While a song plays, its chase snapshots follow the position, so that a
// restart there after an edit walks a few thousand events at most.
void FluidDevice::followChase(Lock& lk) {
    if (!active_) return;
    const auto it = songs_.find(active_->id);
    if (it == songs_.end()) return;
    std::shared_ptr<const Song> song = it->second.song;
    const std::int64_t at = unitsToNs(activeUnits());
    lk.unlock();
    extendChase(*song, song->events.firstAt(at));
    song.reset();
    lk.lock();
}

void FluidDevice::deliver(std::deque<Notice> batch) {
    for (Notice& n : batch) {
        if (n.fn) n.fn(n.id, n.code);
    }
}

void FluidDevice::startUp() {
    openPorts();
    if (mode_ == Mode::Silent) {
        finishStartUp(0);
        return;
    }
    SoundSettings sound;
    {
        std::lock_guard lk(m_);
        sound = withFonts(sound_, settings_.soundFont);
    }
    int error = 0;
    auto synth = createSynth(sound, error, kSampleRate, 0, FontUse::AsPlayed);
    if (!synth) {
        finishStartUp(error);
        return;
    }
    if (keyboardConnected()) {
        // What a keyboard plays before any song: the instruments a reset
        // selects. Not for an input with nothing connected: on every desktop
        // with a sequencer that would cost some 20 MB of a large font.
        keysRead_ = true;
        std::set<PresetRef> asked;
        PresetNotes played;
        widenForKeys(played, asked);
        synth->fonts.cover(synth->synth.get(), played, asked);
        fluid_synth_program_reset(synth->synth.get());  // the channels take them up
    }
    {
        const SynthClaim claim(synthInUse_);  // a port may be playing through the scheduler
        synth_ = std::move(synth);
        scheduler_.setSynth(synth_->synth.get());
    }
    synthReady_.store(true, std::memory_order_release);
    if (mode_ == Mode::Output) {
        // Opened early so that the first play starts at once; a failure here
        // is not final: each play tries again.
        Lock lk(m_);
        outputError_ = openOutput(lk) ? 0 : kErrAudioOutput;
        idleSince_ = Clock::now();
    }
    finishStartUp(0);
}

void FluidDevice::finishStartUp(int error) {
    {
        std::lock_guard lk(m_);
        started_ = true;
        startupError_ = error;
        if (error != 0 && !link_) {
            drainEnded();
            // A play asked for before we knew it cannot sound.
            interruptActive(kNotifyFailure, error);
            resetAudioSide();
        }
    }
    ready_.notify_all();
    wake_.notify_all();
}

// The silent clock stands in for a sound card: it advances the scheduler by
// the real time that passed, waking only while something plays.
void FluidDevice::runClock(Lock& lk) {
    if (!busy()) {
        clockRunning_ = false;
        wake_.wait(lk);
        return;
    }
    const auto now = Clock::now();
    if (!clockRunning_) {
        clockRunning_ = true;
        clockStart_ = now;
        clockFrames_ = 0;
    }
    const std::uint64_t due = framesSince(clockStart_, now);
    // Render at least one block so that a fresh command is taken up at once.
    const std::uint64_t frames = std::max<std::uint64_t>(
        due > clockFrames_ ? due - clockFrames_ : 0, clockFrames_ == 0 ? kBlockFrames : 0);
    if (frames > 0) {
        lk.unlock();
        renderAudio(nullptr, nullptr, static_cast<std::size_t>(frames));
        lk.lock();
        clockFrames_ += frames;
    }
    drainEnded();
    if (!notices_.empty() || quit_) return;
    if (busy()) wake_.wait_until(lk, now + kClockTick);
}

bool FluidDevice::openOutput(Lock& lk) {
    // The driver that worked last is tried first.
    std::vector<std::string> candidates = driverCandidates(settings_.audioDriver);
    if (const auto it = std::find(candidates.begin(), candidates.end(), outputName_);
        it != candidates.end()) {
        std::rotate(candidates.begin(), it, it + 1);
    }
    const OutputFactory& factory = settings_.output ? settings_.output : openFluidOutput;
    const OutputOptions options{settings_.outputDevice, settings_.outputPriority};
    lost_.store(false, std::memory_order_release);
    lastPullNs_.store(steadyNowNs(), std::memory_order_relaxed);
    lk.unlock();
    std::unique_ptr<AudioOutput> out;
    std::string name;
    {
        const QuietAttempts quiet;
        for (const std::string& c : candidates) {
            out = factory(c, options, *this);
            if (out) {
                name = c;
                break;
            }
        }
    }
    lk.lock();
    driversTried_.clear();
    for (const std::string& c : candidates) {
        driversTried_ += (driversTried_.empty() ? "" : ", ") + c;
    }
    if (!out) return false;
    output_ = std::move(out);
    outputName_ = name;
    return true;
}

void FluidDevice::closeOutput(Lock& lk) {
    std::unique_ptr<AudioOutput> out = std::move(output_);
    lk.unlock();
    out.reset();
    lk.lock();
}

// A driver whose thread died (the card unplugged, the server gone) simply
// stops asking for audio.
bool FluidDevice::outputStalled() const {
    if (lost_.load(std::memory_order_acquire)) return true;
    const auto idleNs = steadyNowNs() - lastPullNs_.load(std::memory_order_relaxed);
    return idleNs > std::chrono::nanoseconds(settings_.outputStall).count();
}

// Opens the output when there is something to play, closes it after it has
// been idle for the linger time so that nothing runs while stopped. An output
// that cannot open or is lost ends the play with a failure notice.
void FluidDevice::manageOutput(Lock& lk) {
    if (!started_ || startupError_ != 0) {
        wake_.wait(lk);
        return;
    }
    if (output_ && outputStalled()) {
        closeOutput(lk);
        interruptActive(kNotifyFailure, kErrAudioLost);
        resetAudioSide();
        return;
    }
    if (const std::int64_t heard = lastInputNs_.load(std::memory_order_acquire);
        heard != inputSeen_) {
        // A key was played: it is heard through the output, open for it.
        inputSeen_ = heard;
        idleSince_ = Clock::now();
        if (!output_) openOutput(lk);
    }
    if (busy()) {
        idleSince_ = Clock::now();
        if (!output_ && !openOutput(lk)) {
            interruptActive(kNotifyFailure, kErrAudioOutput);
            resetAudioSide();
            return;
        }
        // The audio side does not wake us: a play's end is polled.
        wake_.wait_for(lk, kClockTick);
        return;
    }
    if (!output_) {
        if (input_) {
            wake_.wait_for(lk, kInputWatch);
        } else {
            wake_.wait(lk);
        }
        return;
    }
    const auto closeAt = idleSince_ + settings_.outputLinger;
    if (Clock::now() < closeAt) {
        // With an input open, a keyboard connected meanwhile is seen soon.
        const auto watch = input_ ? kInputWatch : kOutputWatch;
        wake_.wait_until(lk, std::min(closeAt, Clock::now() + watch));
        return;
    }
    // A play may arrive while the output shuts down, and even be taken up by
    // its last callbacks; it is then still busy, and the next round reopens
    // the output and carries on where it was.
    closeOutput(lk);
}

// A keyboard was connected: what it may play is read whole. A song that
// plays goes on from where it is once its presets are (as after an edit).
void FluidDevice::readKeys(Lock& lk) {
    keysRead_ = true;
    if (active_) {
        std::unique_ptr<PlayPlan> plan = planHere(lk);
        if (!plan) return;
        awaitingPins_ = plan.get();
        mailbox_.store(&haltPlan_);
        plans_.push_back(std::move(plan));
        collectPlans();
        return;
    }
    lk.unlock();
    {
        const std::lock_guard pin(pinning_);
        std::set<PresetRef> asked;
        PresetNotes played;
        widenForKeys(played, asked);
        fluid_synth_t* synth = synth_->synth.get();
        if (!synth_->fonts.holds(synth, played, asked)) {
            const SynthClaim claim(synthInUse_);
            synth_->fonts.cover(synth, played, asked);
            fluid_synth_program_reset(synth);  // the channels take them up
        }
    }
    lk.lock();
}

// Pins the presets of the play waiting for them, then hands it to the audio side.
void FluidDevice::pinPresets(Lock& lk) {
    const PlayPlan* plan = awaitingPins_;
    const std::shared_ptr<const Song> song = plan->song;
    lk.unlock();
    pinFor(*song);
    lk.lock();
    if (awaitingPins_ != plan) return;  // stopped or replaced meanwhile
    awaitingPins_ = nullptr;
    mailbox_.store(plan);
}

// Reads what the song's presets need from the SoundFonts while the audio
// side renders silence (it only ever tries for the synth). Nothing is read
// when the presets are pinned already, as on every restart of the same song.
void FluidDevice::pinFor(const Song& song) {
    const bool keys = keyboardConnected();  // takes m_, never under pinning_
    std::lock_guard lk(pinning_);
    if (!synth_) return;  // none yet: the sound set meanwhile pins it
    std::set<PresetRef> asked = synth_->fonts.allCut() ? std::set<PresetRef>{} : asked_.of(song);
    // The key may change at any moment of the play: every key it may
    // move to is read before.
    PresetNotes played = shiftedNotes(played_.of(song), kMinTranspose, kMaxTranspose);
    if (keys) widenForKeys(played, asked);
    fluid_synth_t* synth = synth_->synth.get();
    if (synth_->fonts.holds(synth, played, asked)) return;
    const SynthClaim claim(synthInUse_);
    synth_->fonts.cover(synth, played, asked);
}

// A new sound while a song plays: the new synthesizer reads the song's
// presets while the old one plays on, then takes over, and the song starts
// again where it is (as after an edit), through the pins of the new one.
void FluidDevice::changeSound(Lock& lk) {
    std::unique_ptr<SynthInstance> fresh = std::move(newSynth_);
    std::shared_ptr<const Song> song = active_ ? songs_.at(active_->id).song : nullptr;
    lk.unlock();
    {
        std::set<PresetRef> asked;
        PresetNotes played;
        if (song) {
            if (!fresh->fonts.allCut()) asked = asked_.of(*song);
            played = shiftedNotes(played_.of(*song), kMinTranspose, kMaxTranspose);
        }
        if (keyboardConnected()) widenForKeys(played, asked);
        if (!played.empty()) fresh->fonts.cover(fresh->synth.get(), played, asked);
    }
    lk.lock();
    std::unique_ptr<PlayPlan> plan = link_ ? nullptr : planHere(lk);
    std::unique_ptr<SynthInstance> old;
    {
        const std::lock_guard pin(pinning_);
        const SynthClaim claim(synthInUse_);  // the audio side renders silence meanwhile
        scheduler_.setSynth(fresh->synth.get());
        old = std::exchange(synth_, std::move(fresh));
        if (plan && plan->song == song) {
            awaitingPins_ = nullptr;
            mailbox_.store(plan.get());
        } else if (plan) {  // another song started meanwhile: its presets first
            awaitingPins_ = plan.get();
            mailbox_.store(&haltPlan_);
        }
        if (plan) plans_.push_back(std::move(plan));
    }
    synthReady_.store(true, std::memory_order_release);
    collectPlans();
    song.reset();
    lk.unlock();
    old.reset();  // a big font takes a while to let go
    lk.lock();
}

}  // namespace lirno::device
