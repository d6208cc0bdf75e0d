// A sequencer device that records what it was asked. On its own it plays
// nothing and answers from its fields (the shell's tests); over a real
// device it passes every call on and records the real answers (whole
// sessions).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/device.h"
#include "device/errors.h"

namespace lirno::test {

// One line of the device's log: "stop 3", "play 3 480".
inline std::string call(const char* what, std::uint32_t id, std::optional<std::uint32_t> n = {}) {
    std::string s = std::string(what) + ' ' + std::to_string(id);
    if (n) s += ' ' + std::to_string(*n);
    return s;
}

class FakeDevice : public device::Device {
  public:
    struct Play {
        device::DeviceId id;
        std::uint32_t from;
        bool operator==(const Play&) const = default;
    };

    FakeDevice() = default;
    explicit FakeDevice(device::Device& real) : real_(&real) {}

    // The answers on its own.
    std::uint32_t length = 2400;  // what open() reports
    std::uint32_t position_ = 0;  // what position() reports
    int positionError = 0;        // nonzero: position() fails with it
    // Either way.
    bool refuseOpens = false;  // as if no file could be read
    int soundError = 0;        // nonzero: setSound refuses with it, as for an unreadable font

    // What it was asked, call by call.
    std::vector<Play> plays;
    std::vector<device::DeviceId> stops, pauses, closes;
    device::Notifier lastNotifier;  // on its own only: a real device takes it
    // The same as log lines: "open ID LENGTH", "play ID FROM", "stop ID",
    // "pause ID", "close ID".
    std::vector<std::string> calls;     // successful calls
    std::vector<std::string> failed;    // calls the device refused
    device::PlaybackSettings playback;  // as last set (not in the log)
    device::SoundSettings sound;        // likewise
    // MIDI ports, on its own: a keyboard connected or not, the ports
    // setOutputPort takes, what the next stopRecording hands back.
    bool keyboard = false;
    std::vector<std::string> openablePorts;
    std::vector<device::RecordedEvent> toRecord;
    // What it was asked about them.
    int inputChannel = -1;
    bool recordingNow = false;
    std::string port;  // as last set

    // The calls since the mark, and a new mark.
    std::vector<std::string> since() {
        std::vector<std::string> out(calls.begin() + long(mark_), calls.end());
        mark_ = calls.size();
        return out;
    }

    int open(const std::string& path, device::DeviceId& id, std::uint32_t& len) override {
        if (refuseOpens) return note(device::kErrFileRead, "open " + path);
        int r = 0;
        if (real_) {
            r = real_->open(path, id, len);
        } else {
            id = nextId_++;
            len = length;
        }
        return note(r, call("open", id, len));
    }
    int play(device::DeviceId id, std::uint32_t from, device::Notifier n) override {
        plays.push_back({id, from});
        int r = 0;
        if (real_)
            r = real_->play(id, from, std::move(n));
        else
            lastNotifier = std::move(n);
        return note(r, call("play", id, from));
    }
    int stop(device::DeviceId id) override {
        stops.push_back(id);
        return note(real_ ? real_->stop(id) : 0, call("stop", id));
    }
    int pause(device::DeviceId id) override {
        pauses.push_back(id);
        return note(real_ ? real_->pause(id) : 0, call("pause", id));
    }
    int close(device::DeviceId id) override {
        closes.push_back(id);
        return note(real_ ? real_->close(id) : 0, call("close", id));
    }
    int position(device::DeviceId id, std::uint32_t& pos) override {
        if (real_) return real_->position(id, pos);
        if (positionError != 0) return positionError;
        pos = position_;
        return 0;
    }
    int failure(device::DeviceId id) const override { return real_ ? real_->failure(id) : 0; }
    int setSound(const device::SoundSettings& s) override {
        const int r = real_ ? real_->setSound(s) : soundError;
        if (r == 0) sound = s;
        return r;
    }
    int setPlayback(const device::PlaybackSettings& s) override {
        int r = real_ ? real_->setPlayback(s) : (validPlayback(s) ? 0 : device::kErrOutOfRange);
        if (r == 0) playback = s;
        return r;
    }
    int setOutputPort(const std::string& p) override {
        int r = 0;
        if (real_)
            r = real_->setOutputPort(p);
        else if (!p.empty() &&
                 std::find(openablePorts.begin(), openablePorts.end(), p) == openablePorts.end())
            r = device::kErrMidiPort;
        if (r == 0) port = p;
        return r;
    }
    std::string outputPort() const override { return real_ ? real_->outputPort() : port; }
    bool inputConnected() const override { return real_ ? real_->inputConnected() : keyboard; }
    void setInputChannel(int channel) override {
        inputChannel = channel;
        if (real_) real_->setInputChannel(channel);
    }
    int startRecording() override {
        const int r = real_ ? real_->startRecording() : keyboard ? 0 : device::kErrNoMidiInput;
        recordingNow = r == 0;
        return r;
    }
    std::vector<device::RecordedEvent> stopRecording() override {
        recordingNow = false;
        return real_ ? real_->stopRecording() : std::exchange(toRecord, {});
    }
    std::optional<std::string> errorText(int code) const override {
        if (real_) return real_->errorText(code);
        return "fake device error";
    }

  private:
    int note(int result, std::string line) {
        (result == 0 ? calls : failed).push_back(std::move(line));
        return result;
    }

    device::Device* real_ = nullptr;
    device::DeviceId nextId_ = 1;
    std::size_t mark_ = 0;
};

}  // namespace lirno::test
