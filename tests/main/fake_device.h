// A sequencer device that plays nothing and records what it was asked.
#pragma once

#include <map>
#include <vector>

#include "device/device.h"

namespace lirno::test {

class FakeDevice : public device::Device {
public:
    struct Play {
        device::DeviceId id;
        std::uint32_t from;
        bool operator==(const Play&) const = default;
    };

    std::uint32_t length = 2400;      // what open() reports
    std::uint32_t position_ = 0;      // what position() reports
    int positionError = 0;            // nonzero: position() fails with it
    std::vector<Play> plays;
    std::vector<device::DeviceId> stops, pauses, closes;
    device::Notifier lastNotifier;

    int open(const std::string&, device::DeviceId& id, std::uint32_t& len) override
    {
        id = nextId_++;
        len = length;
        return 0;
    }
    int play(device::DeviceId id, std::uint32_t from, device::Notifier n) override
    {
        plays.push_back({id, from});
        lastNotifier = std::move(n);
        return 0;
    }
    int stop(device::DeviceId id) override { return record(stops, id); }
    int pause(device::DeviceId id) override { return record(pauses, id); }
    int close(device::DeviceId id) override { return record(closes, id); }
    int position(device::DeviceId, std::uint32_t& pos) override
    {
        if (positionError != 0) return positionError;
        pos = position_;
        return 0;
    }
    std::optional<std::string> errorText(int) const override { return "fake device error"; }

private:
    static int record(std::vector<device::DeviceId>& calls, device::DeviceId id)
    {
        calls.push_back(id);
        return 0;
    }
    device::DeviceId nextId_ = 1;
};

}  // namespace lirno::test
