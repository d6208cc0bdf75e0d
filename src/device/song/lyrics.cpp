#include "device/song/lyrics.h"

#include <iconv.h>
#include <uchardet.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "device/song/smf_reader.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "midi/bytes.h"
#include "midi/vlq.h"
#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

constexpr std::uint64_t kMaxTick = std::uint64_t{1} << 60;

// A text or lyric event: where it stands and its bytes as the file has them.
struct MetaText {
    std::uint64_t tick = 0;
    std::uint32_t track = 0;
    std::uint8_t type = 0;
    std::string bytes;
};

// The text and lyric events of one track chunk, up to its end, its End of
// Track or the first event cut short, read in step with the device's reader
// (meta and sysex events leave running status alone). Returns where it stopped.
const std::uint8_t* walkTrack(const std::uint8_t* p, const std::uint8_t* end, std::uint32_t track,
                              std::vector<MetaText>& out) {
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    auto vlq = [&](std::uint32_t& v) {
        const midi::Vlq q = midi::readVlq(p, end, 4);
        p = q.ok ? p + q.bytes : end;
        v = q.value;
        return q.ok;
    };
    std::uint32_t delta = 0;
    while (vlq(delta) && p < end) {
        tick = std::min(tick + delta, kMaxTick);
        std::uint8_t status = *p++;
        if (status < 0x80) {
            if (running == 0) continue;
            --p;
            status = running;
        }
        if (midi::isChannelStatus(status)) {
            running = status;
            if (end - p < midi::dataBytes(status)) return end;
            p += midi::dataBytes(status);
            continue;
        }
        std::uint8_t type = 0;
        if (status == midi::kMeta) {
            if (p >= end) return end;
            type = *p++;
        } else if (status != midi::kSysEx && status != midi::kSysExEscape) {
            for (int i = midi::strayDataBytes(status); i > 0 && p < end && *p < 0x80; --i) ++p;
            continue;
        }
        std::uint32_t len = 0;
        if (!vlq(len) || len > static_cast<std::size_t>(end - p)) return end;
        p += len;
        if (status != midi::kMeta) continue;
        if (type == midi::meta::kEndOfTrack) return p;
        if (type == midi::meta::kText || type == midi::meta::kLyric)
            out.push_back({tick, track, type, std::string(p - len, p)});
    }
    return p;
}

// Every track chunk's text and lyric events, in time order (ties in track
// order), from the chunks the device's reader finds.
std::vector<MetaText> metaTexts(std::span<const std::uint8_t> b) {
    std::vector<MetaText> out;
    std::uint32_t track = 0;
    for (const auto chunk : trackChunks(b)) {
        walkTrack(chunk.data(), chunk.data() + chunk.size(), track++, out);
    }
    std::stable_sort(out.begin(), out.end(), [](const MetaText& x, const MetaText& y) {
        return x.tick != y.tick ? x.tick < y.tick : x.track < y.track;
    });
    return out;
}

bool isTag(const MetaText& t) {
    return t.type == midi::meta::kText && !t.bytes.empty() && t.bytes[0] == '@';
}

// The events the words come from: the lyric events; without any, the text
// events of a karaoke file (one with @ tags). Only the track holding the most
// of them: a part's copy of the words (each voice of a choir) is not sung
// twice, nor a credit elsewhere in the song.
std::vector<const MetaText*> wordEvents(const std::vector<MetaText>& all, bool& karaoke) {
    const auto isLyric = [](const MetaText& t) { return t.type == midi::meta::kLyric; };
    karaoke = std::none_of(all.begin(), all.end(), isLyric);
    const std::uint8_t type = karaoke ? midi::meta::kText : midi::meta::kLyric;
    std::vector<const MetaText*> words;
    if (karaoke && std::none_of(all.begin(), all.end(), isTag)) return words;
    std::vector<std::size_t> perTrack;
    for (const MetaText& t : all) {
        if (t.type != type || isTag(t)) continue;
        if (perTrack.size() <= t.track) perTrack.resize(t.track + 1);
        ++perTrack[t.track];
    }
    const auto track = static_cast<std::uint32_t>(
        std::max_element(perTrack.begin(), perTrack.end()) - perTrack.begin());
    for (const MetaText& t : all)
        if (t.type == type && t.track == track && !isTag(t)) words.push_back(&t);
    karaoke = karaoke && !words.empty();
    return words;
}

std::size_t utf8Length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead < 0xE0) return 2;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    return lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = utf8Length(c);
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        // Over-long forms, surrogates and code points past U+10FFFF.
        const auto c1 = static_cast<unsigned char>(n > 1 ? s[i + 1] : 0);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 >= 0x90))
            return false;
        i += n;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view s) {
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string detectCharset(std::string_view bytes) {
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> d(
        uchardet_new(), uchardet_delete);
    if (!d || uchardet_handle_data(d.get(), bytes.data(), bytes.size()) != 0) return {};
    uchardet_data_end(d.get());
    const char* name = uchardet_get_charset(d.get());
    return name ? name : "";
}

// Converts with iconv; false when the charset is unknown or the bytes are not
// text in it.
class Converter {
  public:
    explicit Converter(const std::string& from) : cd_(iconv_open("UTF-8", from.c_str())) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }

    bool convert(std::string_view in, std::string& out) const {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.assign(in.size() * 4 + 16, '\0');
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
            iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return false;
        out.resize(out.size() - dstLeft);
        return true;
    }

  private:
    iconv_t cd_;
};

// All the song's texts in one character set: UTF-8 when they all are, else
// the one detected over all of them together, else Latin-1.
std::vector<std::string> toUtf8(const std::vector<std::string_view>& texts, std::string& charset) {
    std::string all;
    for (const std::string_view t : texts) all += t;
    std::vector<std::string> out(texts.size());
    if (validUtf8(all)) {
        charset = "UTF-8";
        std::copy(texts.begin(), texts.end(), out.begin());
        return out;
    }
    charset = detectCharset(all);
    if (!charset.empty()) {
        const Converter conv(charset);
        bool ok = conv.ok();
        for (std::size_t i = 0; ok && i < texts.size(); ++i) ok = conv.convert(texts[i], out[i]);
        if (ok) return out;
    }
    charset = "ISO-8859-1";
    std::transform(texts.begin(), texts.end(), out.begin(), latin1ToUtf8);
    return out;
}

enum class Break { Line, Paragraph, Cr, Lf };

// Puts syllables into lines as the break marks come. A break with no words
// since the last one is a blank line: a new paragraph. CR and LF together,
// even split over two events, are one break.
class LineBuilder {
  public:
    explicit LineBuilder(std::vector<LyricLine>& lines) : lines_(lines) {}
    void add(std::int64_t timeNs, std::string text) {
        if (text.empty()) return;
        current_.syllables.push_back({timeNs, std::move(text)});
        afterCr_ = false;
    }
    void breakLine(Break kind) {
        const bool paragraph = kind == Break::Paragraph;
        if (kind == Break::Lf && afterCr_) {
            afterCr_ = false;
            return;
        }
        afterCr_ = kind == Break::Cr;
        if (!current_.syllables.empty()) {
            lines_.push_back(std::move(current_));
            current_ = {};
            current_.paragraph = paragraph;
        } else if (paragraph || !lines_.empty()) {
            current_.paragraph = true;
        }
    }
    void finish() {
        if (!current_.syllables.empty()) lines_.push_back(std::move(current_));
    }

  private:
    std::vector<LyricLine>& lines_;
    LyricLine current_;
    bool afterCr_ = false;
};

// One event's text: '/' (new line) or '\' (new paragraph) before it; in a
// lyric event also CR or LF wherever they stand.
void addSyllable(LineBuilder& lines, std::int64_t timeNs, std::string_view text, bool lyric) {
    if (!text.empty() && (text[0] == '/' || text[0] == '\\')) {
        lines.breakLine(text[0] == '/' ? Break::Line : Break::Paragraph);
        text.remove_prefix(1);
    }
    for (std::size_t eol = 0; lyric && (eol = text.find_first_of("\r\n")) != text.npos;) {
        lines.add(timeNs, std::string(text.substr(0, eol)));
        lines.breakLine(text[eol] == '\r' ? Break::Cr : Break::Lf);
        text.remove_prefix(eol + 1);
    }
    lines.add(timeNs, std::string(text));
}

}  // namespace

Lyrics readLyrics(std::span<const std::uint8_t> smf) {
    Lyrics lyrics;
    std::shared_ptr<const Song> song;
    if (parseSong(smf, song) != 0 || !song->timing) return lyrics;
    const std::vector<MetaText> all = metaTexts(smf);
    const std::vector<const MetaText*> words = wordEvents(all, lyrics.karaoke);
    if (words.empty()) return lyrics;
    std::vector<const MetaText*> tags;
    for (const MetaText& t : all)
        if (isTag(t)) tags.push_back(&t);

    std::vector<std::string_view> raw;
    for (const MetaText* t : words) raw.push_back(t->bytes);
    for (const MetaText* t : tags) raw.push_back(t->bytes);
    const std::vector<std::string> text = toUtf8(raw, lyrics.charset);

    LineBuilder lines(lyrics.lines);
    for (std::size_t i = 0; i < words.size(); ++i)
        addSyllable(lines, song->timing->tickToNs(words[i]->tick), text[i],
                    words[i]->type == midi::meta::kLyric);
    lines.finish();
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const std::string& tag = text[words.size() + i];
        const char kind = tag.size() > 1 ? tag[1] : '\0';
        if (kind == 'T') lyrics.titles.push_back(tag.substr(2));
        if (kind == 'I') lyrics.info.push_back(tag.substr(2));
        if (kind == 'L' && lyrics.language.empty()) lyrics.language = tag.substr(2);
    }
    return lyrics;
}

}  // namespace lirno::device
