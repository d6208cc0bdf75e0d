#include "mmio/recordtrack.h"

namespace lirno {

// Placeholders until the track is built.
int recordChannel(const MidiInfo&) {
    return 15;
}
std::string nextRecordedName(const MidiInfo&) {
    return "Recorded 1";
}
int addrecordtrack(FileImage&, MidiInfo&, const std::string&, int) {
    return -1;
}
int fillrecordtrack(FileImage&, MidiInfo&, int, std::span<const device::RecordedEvent>) {
    return 0;
}
int droprecordtrack(FileImage&, MidiInfo&, int, std::uint16_t) {
    return 0;
}

}  // namespace lirno
