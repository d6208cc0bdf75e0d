// Arbitrary bytes through the file model the way the player treats a file:
// load and analyse it, mute and unmute tracks, change volume, pan and program,
// save it under new track names. ASan and UBSan watch memory; on top of that
// the harness traps whenever the model breaks one of its own promises:
//  - the analysis depends only on the file's bytes (never on the spare bytes
//    the image carries behind them) and describes the image it leaves;
//  - an edit changes bytes of its own track only, and only the bytes it is
//    about (note status bytes swapped between 8n and 9n, or the new value);
//  - flipping a track's notes twice gives back the image it started from;
//  - saving leaves the image exactly as it was, writes every note audible,
//    and what it writes loads again as a file of the same shape.
// Row states, names and edit values come from a generator seeded by the
// input's last bytes, so the fuzzer steers them together with the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "midi/bytes.h"
#include "midi/vocabulary.h"
#include "mmio/message.h"
#include "mmio/midiinfo.h"
#include "mmio/scanner.h"
#include "mmio/trackedit.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define LIRNO_FUZZ_ASAN 1
#endif
#endif

// The harness's own loops compare bytes by the million: tracing them would
// only drown the model's comparisons in the fuzzer's feedback.
#define HARNESS_ONLY __attribute__((no_sanitize("coverage")))

namespace {

using lirno::FileImage;
using lirno::MidiInfo;
using Bytes = std::vector<std::uint8_t>;
namespace midi = lirno::midi;

// Bigger inputs only slow the search down: every shape the model knows fits.
constexpr std::size_t kMaxInput = std::size_t{1} << 20;
constexpr std::size_t kHeaderSize = 14;
// settrack is only ever asked for tracks the analysis accepted (at most
// lirno::kMaxTracks), and one more to see it refuse cleanly.
constexpr int kLastTrackTried = lirno::kMaxTracks;

void removeSaveDir();

[[noreturn]] void broken(const char* promise) {
    std::fprintf(stderr, "fuzz_model: broken promise: %s\n", promise);
    std::fflush(stderr);
    removeSaveDir();  // a trap skips atexit, and minimising traps thousands of times
    __builtin_trap();
}

void check(bool ok, const char* promise) {
    if (!ok) broken(promise);
}

// splitmix64: cheap, and every bit of the seed matters.
class Choices {
  public:
    Choices(const std::uint8_t* data, std::size_t size)
        : state_(0x9E3779B97F4A7C15ull * (size + 1)) {
        const std::size_t k = std::min<std::size_t>(size, 8);
        for (std::size_t i = 0; i < k; ++i)
            state_ = ((state_ << 8) | (state_ >> 56)) ^ data[size - k + i];
    }
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }

  private:
    std::uint64_t state_;
};

// The row a listed track has in the track list.
struct Row {
    bool enabled = true;
    bool checked = true;
    std::string name;
};

// Names as a user may type or paste them: empty, around the 127-byte limit of
// a one-byte length, past the 255 bytes the writer keeps, with UTF-8, with
// bytes of 0x80 and above, with NULs.
std::string makeName(Choices& pick) {
    static constexpr std::size_t kLengths[] = {0,   1,   7,   126, 127, 128,
                                               129, 254, 255, 256, 300, 1024};
    const std::size_t length = kLengths[pick.below(std::size(kLengths))];
    std::string s;
    while (s.size() < length) {
        switch (pick.below(4)) {
            case 0:
                s += static_cast<char>('a' + pick.below(26));
                break;
            case 1:
                s += "\xC3\xA9";  // é
                break;
            case 2:
                s += static_cast<char>(0x80 | pick.byte());
                break;
            default:
                s += static_cast<char>(pick.byte());
                break;
        }
    }
    s.resize(length);
    return s;
}

class FuzzRows final : public lirno::RowSource {
  public:
    std::vector<Row> rows;

    // at(): a row asked for beyond the listed tracks is a fault too.
    bool isOnEnabled(int n) const override { return rows.at(static_cast<std::size_t>(n)).enabled; }
    bool isOnChecked(int n) const override { return rows.at(static_cast<std::size_t>(n)).checked; }
    std::string nameText(int n) const override { return rows.at(static_cast<std::size_t>(n)).name; }

    bool muted(int n) const { return !isOnEnabled(n) || !isOnChecked(n); }
};

FuzzRows makeRows(Choices& pick, int count) {
    FuzzRows r;
    for (int n = 0; n < count; ++n)
        r.rows.push_back({pick.below(5) != 0, pick.below(3) != 0, makeName(pick)});
    return r;
}

// While it lives, the block's bytes behind the image in use are poisoned:
// edits and saves must stay within the image, and ASan reports any access
// beyond it even though the memory belongs to the block.
class SpareFence {
  public:
    explicit SpareFence(FileImage& image)
        : begin_(image.data() + image.dwFileBufSize),
          size_(image.pFileBuf.size() - image.dwFileBufSize) {
#ifdef LIRNO_FUZZ_ASAN
        ASAN_POISON_MEMORY_REGION(begin_, size_);
#endif
    }
    ~SpareFence() {
#ifdef LIRNO_FUZZ_ASAN
        ASAN_UNPOISON_MEMORY_REGION(begin_, size_);
#endif
    }
    SpareFence(const SpareFence&) = delete;
    SpareFence& operator=(const SpareFence&) = delete;

  private:
    std::uint8_t* begin_;
    std::size_t size_;
};

Bytes snapshot(const FileImage& image) {
    return Bytes(image.data(), image.end());
}

HARNESS_ONLY bool same(const Bytes& before, const FileImage& image) {
    return before.size() == image.dwFileBufSize &&
           std::equal(before.begin(), before.end(), image.data());
}

// Where file track `track`'s data lies: chunks are stepped over from the
// header on, whatever their identifiers, as the editor finds a track.
struct Span {
    bool found = false;
    std::size_t begin = 0;
    std::size_t end = 0;
};

HARNESS_ONLY Span trackSpan(const Bytes& image, int track) {
    Span s;
    if (track < 0 || image.size() < kHeaderSize) return s;
    std::size_t pos = kHeaderSize;
    for (int k = 0; k <= track; ++k) {
        if (image.size() - pos < 8) return s;
        const std::uint32_t len = midi::readBE32(image.data() + pos + 4);
        if (len > image.size() - pos - 8) return s;
        s.begin = pos + 8;
        s.end = s.begin + len;
        pos = s.end;
    }
    s.found = true;
    return s;
}

// How many chunks the editor can step over, capped at the tracks it is asked for.
int chunkCount(const Bytes& image) {
    int n = 0;
    while (n <= kLastTrackTried && trackSpan(image, n).found) ++n;
    return n;
}

bool isNoteKind(std::uint8_t kind) {
    return kind == midi::kNoteOff || kind == midi::kNoteOn;
}

// The bytes an edit changed: all within its track, and each one what the edit is about.
HARNESS_ONLY void checkEdit(const Bytes& before, const std::uint8_t* now, const Span& span,
                            std::uint8_t kind, std::uint8_t value) {
    const std::size_t begin = span.found ? span.begin : before.size();
    const std::size_t end = span.found ? span.end : before.size();
    check(std::equal(before.begin(), before.begin() + long(begin), now) &&
              std::equal(before.begin() + long(end), before.end(), now + end),
          "an edit changed a byte outside its track");
    for (std::size_t i = begin; i < end; ++i) {
        if (before[i] == now[i]) continue;
        if (isNoteKind(kind))
            check(isNoteKind(midi::statusKind(before[i])) &&
                      (before[i] ^ now[i]) == (midi::kNoteOn ^ midi::kNoteOff),
                  "a note flip changed a byte that is no note status");
        else
            check(now[i] == value, "an edit wrote something else than its value");
    }
}

// One settrack call, checked against the image it started from.
int edit(FileImage& image, int track, std::uint8_t kind, std::uint8_t value) {
    const Bytes before = snapshot(image);
    const Span span = trackSpan(before, track);
    const int result = lirno::settrack(image, track, kind, value);
    check(image.dwFileBufSize == before.size(), "an edit changed the image's size");
    check(span.found || result == 0, "an edit of a track that is not there succeeded");
    checkEdit(before, image.data(), span, kind, value);
    return result;
}

// Mute and unmute: the second flip must undo the first exactly.
void flipTwice(FileImage& image, int track, Choices& pick) {
    const Bytes before = snapshot(image);
    const std::uint8_t kind = pick.below(2) ? midi::kNoteOff : midi::kNoteOn;
    const int first = edit(image, track, kind, pick.byte());
    const int second = edit(image, track, kind, pick.byte());
    check(first == second, "flipping a track's notes twice gave different results");
    check(same(before, image), "flipping a track's notes twice did not restore the image");
}

HARNESS_ONLY bool sameInfo(const MidiInfo& a, const MidiInfo& b) {
    if (a.format != b.format || a.nTracks != b.nTracks || a.division != b.division ||
        a.nViewTracks != b.nViewTracks || a.trackIndex != b.trackIndex)
        return false;
    for (std::size_t i = 0; i < a.track.size(); ++i) {
        const lirno::TrackInfo& s = a.track[i];
        const lirno::TrackInfo& t = b.track[i];
        if (s.size != t.size || s.program != t.program || s.volume != t.volume ||
            s.balance != t.balance || s.channel != t.channel || std::strcmp(s.name, t.name) != 0)
            return false;
    }
    return true;
}

struct Analysis {
    FileImage image;
    MidiInfo info;
    int result = 0;
};

// Analyses the file twice, once with the spare bytes zero and once filled:
// a difference means the analysis read behind the file.
Analysis analyse(const Bytes& file) {
    const std::uint8_t state = lirno::scanner.type;
    Analysis a;
    a.image = FileImage::fromBytes(file);
    a.result = lirno::readmidiinfo(a.image, a.info);
    const std::uint8_t stateAfter = lirno::scanner.type;

    FileImage other = FileImage::fromBytes(file);
    std::fill(other.pFileBuf.begin() + static_cast<std::ptrdiff_t>(file.size()),
              other.pFileBuf.end(), std::uint8_t{0xA5});
    MidiInfo otherInfo;
    lirno::scanner.type = state;
    const int otherResult = lirno::readmidiinfo(other, otherInfo);
    check(otherResult == a.result && lirno::scanner.type == stateAfter &&
              other.dwFileBufSize == a.image.dwFileBufSize && same(snapshot(other), a.image) &&
              sameInfo(a.info, otherInfo),
          "the analysis depends on bytes behind the file");
    check(a.image.dwFileBufSize <= a.image.pFileBuf.size(), "the image outgrew its block");
    return a;
}

// What an accepted file's analysis must say about the image it leaves.
void checkAnalysed(const Bytes& file, const Analysis& a) {
    const MidiInfo& info = a.info;
    check(info.format <= 2 && info.nTracks <= lirno::kMaxTracks && info.nViewTracks <= info.nTracks,
          "the analysis accepted an unsupported header");
    check(a.image.dwFileBufSize >= file.size() &&
              a.image.dwFileBufSize - file.size() <= 8u * info.nTracks,
          "the normalised image grew by more than two events a track");
    check(std::equal(file.begin(), file.begin() + kHeaderSize, a.image.data()),
          "the analysis changed the header");

    const Bytes image = snapshot(a.image);
    std::size_t pos = kHeaderSize;
    for (int i = 0; i < info.nTracks; ++i) {
        const lirno::TrackInfo& t = info.track[static_cast<std::size_t>(i)];
        check(image.size() - pos >= 8 && std::memcmp(image.data() + pos, "MTrk", 4) == 0 &&
                  midi::readBE32(image.data() + pos + 4) == t.size &&
                  t.size <= image.size() - pos - 8,
              "a track's size does not match its chunk in the image");
        pos += 8 + t.size;
        check(t.channel < midi::kChannels || t.channel == lirno::NOT_SEEN ||
                  t.channel == lirno::MIXED,
              "a track has an impossible channel");
    }
    // Whatever followed the last track is carried over.
    check(image.size() - pos <= file.size() &&
              std::equal(image.begin() + static_cast<std::ptrdiff_t>(pos), image.end(),
                         file.end() - static_cast<std::ptrdiff_t>(image.size() - pos)),
          "the bytes behind the last track changed");

    int previous = -1;
    for (int n = 0; n < info.nViewTracks; ++n) {
        const int i = info.trackIndex[static_cast<std::size_t>(n)];
        check(i > previous && i < info.nTracks, "the listed tracks are not file tracks in order");
        check(info.track[static_cast<std::size_t>(i)].channel != lirno::NOT_SEEN,
              "a track without channel events is listed");
        previous = i;
        check(lirno::gettracksize(info, n) == info.track[static_cast<std::size_t>(i)].size,
              "gettracksize disagrees with the track");
        check(lirno::getvol(info, n) <= 127 && lirno::getbal(info, n) <= 127,
              "a level out of range");
        check(std::strlen(lirno::gettrackname(info, n)) < 260, "a name runs past its field");
        const int instr = lirno::getinstr(info, n);
        check(instr < 128 || instr == lirno::kInstrBadProgram || instr == lirno::kInstrNoProgram ||
                  instr == lirno::kInstrDrums || instr == lirno::kInstrMixed,
              "an impossible instrument code");
    }
    check(lirno::getmidiformat(info) != nullptr && lirno::getnumtracks(info) == info.nViewTracks &&
              lirno::getticks(info) == info.division,
          "the accessors disagree with the analysis");
}

std::string& saveDir() {
    static std::string dir;
    return dir;
}

void removeSaveDir() {
    std::error_code ignored;
    std::filesystem::remove_all(saveDir(), ignored);
}

Bytes readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Edits no user interface makes (other event kinds, values of 128 and more)
// may ruin the data but never memory.
void wildEdits(FileImage& image, int tracks, Choices& pick) {
    static constexpr std::uint8_t kKinds[] = {
        lirno::kEditVolume, lirno::kEditBalance, lirno::kEditProgram,
        lirno::kEvName,     lirno::kEvOther,     lirno::kEvEndOfTrack,
        lirno::kEvError,    midi::kNoteOn,       0};
    for (int t = -1; t <= tracks; ++t)
        for (std::uint8_t kind : kKinds) edit(image, t, kind ? kind : pick.byte(), pick.byte());
}

void exerciseAnalysed(const Bytes& file, Analysis& a, Choices& pick) {
    checkAnalysed(file, a);
    const MidiInfo& info = a.info;
    FuzzRows rows = makeRows(pick, info.nViewTracks);
    FuzzRows audible = rows;
    for (Row& r : audible.rows) r.enabled = r.checked = true;
    const std::string savedName = saveDir() + "/saved.mid";
    const std::string audibleName = saveDir() + "/audible.mid";
    {
        SpareFence fence(a.image);
        for (int t = -1; t <= info.nTracks; ++t) flipTwice(a.image, t, pick);
        // What the mixer's sliders and instrument list do.
        for (int t = 0; t <= info.nTracks; ++t)
            for (std::uint8_t kind : {lirno::kEditVolume, lirno::kEditBalance, lirno::kEditProgram})
                edit(a.image, t, kind, static_cast<std::uint8_t>(pick.below(128)));

        const Bytes unmuted = snapshot(a.image);
        check(lirno::writemidiinfo(audibleName, a.image, info, audible) == 1, "saving failed");
        check(same(unmuted, a.image), "saving changed the image");

        // Muted rows have their track's notes flipped, as the track list does.
        auto toggleMuted = [&] {
            for (int n = 0; n < info.nViewTracks; ++n)
                if (rows.muted(n))
                    edit(a.image, info.trackIndex[static_cast<std::size_t>(n)], lirno::kEditNotes,
                         0);
        };
        toggleMuted();
        const Bytes muted = snapshot(a.image);
        check(lirno::writemidiinfo(savedName, a.image, info, rows) == 1, "saving failed");
        check(same(muted, a.image), "saving changed the image");
        toggleMuted();
        check(same(unmuted, a.image), "muting and unmuting rows did not restore the image");
    }
    const Bytes saved = readFile(savedName);
    check(saved == readFile(audibleName), "the saved file depends on which rows are muted");
    check(saved.size() >= kHeaderSize &&
              std::equal(saved.begin(), saved.begin() + kHeaderSize, file.begin()),
          "the saved file's header differs");
    FileImage again = FileImage::fromBytes(saved);
    MidiInfo againInfo;
    check(lirno::readmidiinfo(again, againInfo) == 1 && againInfo.nTracks == info.nTracks,
          "the saved file does not load again");
    std::remove(savedName.c_str());
    std::remove(audibleName.c_str());

    SpareFence fence(a.image);
    wildEdits(a.image, info.nTracks, pick);
}

// A file the analysis refused may have been partly normalised: edits of it
// must still stay within the image.
void exerciseRefused(Analysis& a, Choices& pick) {
    SpareFence fence(a.image);
    const int tracks = chunkCount(snapshot(a.image));
    for (int t = -1; t <= tracks; ++t) flipTwice(a.image, t, pick);
    wildEdits(a.image, tracks, pick);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    lirno::setMessageBoxHandler([](const lirno::Message&) {});
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lirno-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) {
        std::perror("fuzz_model: mkdtemp");
        std::abort();
    }
    saveDir() = buf.data();
    std::atexit(removeSaveDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    const Bytes file(data, data + size);
    Choices pick(data, size);
    // The running status the previously loaded file left behind.
    lirno::scanner.type = pick.byte();
    Analysis a = analyse(file);
    if (a.result == 1)
        exerciseAnalysed(file, a, pick);
    else
        exerciseRefused(a, pick);
    return 0;
}
