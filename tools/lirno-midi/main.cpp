// lirno-midi: the player's file model and sequencer on the command line.
//
//   lirno-midi info FILE
//   lirno-midi mix FILE [EDIT ...] [-o OUT] [--play-file OUT2] [--speed PCT] [--transpose N]
//   lirno-midi render FILE [EDIT ...] [--from UNITS | --section FROM..TO] [--speed PCT]
//                     [--transpose N] [-o OUT.wav|.flac|...] [--stems DIR] [SOUND ...]
//   lirno-midi play FILE [EDIT ...] [--loop] [--speed PCT] [--transpose N] [--section FROM..TO]
//                   [--port PORT] [SOUND ...]
//   lirno-midi lyrics FILE [--lrc]
//   lirno-midi ports
//   lirno-midi record FILE -o OUT [--port PORT] [--for SECONDS]
// SOUND: --soundfont F[:F...], --reverb on|off|ROOM,LEVEL, --chorus on|off|LEVEL
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <string>

#include "commands.h"
#include "device/engine/sample_rates.h"

namespace {

using lirno::cli::Edit;

struct EditOption {
    const char* flag;
    Edit::Kind kind;
    const char* help;
};

constexpr EditOption kEditOptions[] = {
    {"--mute", Edit::Mute, "uncheck row N's On box"},
    {"--unmute", Edit::Unmute, "check row N's On box"},
    {"--solo", Edit::Solo, "click row N's Solo button"},
    {"--program", Edit::Program, "N=V: choose program V in row N's instrument list"},
    {"--volume", Edit::Volume, "N=V: let go of row N's volume slider at V"},
    {"--balance", Edit::Balance, "N=V: let go of row N's balance slider at V"},
    {"--name", Edit::Name, "N=TEXT: type TEXT into row N's name box"},
};

// The edit options of one command, to be read back in command-line order.
class EditOptions {
  public:
    explicit EditOptions(CLI::App* command) : command_(command), sinks_(std::size(kEditOptions)) {
        for (std::size_t k = 0; k < std::size(kEditOptions); ++k) {
            const EditOption& e = kEditOptions[k];
            kinds_[command->add_option(e.flag, sinks_[k], e.help)->allow_extra_args(false)] =
                e.kind;
        }
    }

    bool collect(std::vector<Edit>& edits) const {
        std::map<const CLI::Option*, std::size_t> used;
        for (const CLI::Option* opt : command_->parse_order()) {
            auto kind = kinds_.find(opt);
            if (kind == kinds_.end()) continue;
            const std::string& arg = opt->results().at(used[opt]++);
            Edit edit{};
            std::string error;
            if (!lirno::cli::parseEdit(kind->second, arg, edit, error)) {
                std::fprintf(stderr, "lirno-midi: %s\n", error.c_str());
                return false;
            }
            edits.push_back(edit);
        }
        return true;
    }

  private:
    CLI::App* command_;
    std::vector<std::vector<std::string>> sinks_;
    std::map<const CLI::Option*, Edit::Kind> kinds_;
};

// The render command's own options (the edits and practice settings come after).
CLI::App* addRender(CLI::App& app, lirno::cli::RenderOptions& o) {
    auto* render = app.add_subcommand("render", "render the edited song to audio files (stereo)");
    render->add_option("FILE", o.file, "the MIDI file")->required();
    render->add_option("--from", o.from, "start position in units of 1/8 second");
    auto* out = render->add_option(
        "-o", o.out, "the mix's audio file: .wav, .flac, .ogg, .mp3 or .opus by its name");
    auto* stems = render->add_option("--stems", o.stems,
                                     "a folder for one file per audible track, NN-name.ext");
    render->add_option("--format", o.format, "the stems' format: wav (default), flac, ogg, ...")
        ->needs(stems);
    const std::string rateHelp = "sample rate in Hz, " +
                                 std::to_string(lirno::device::kMinRenderRate) + " to " +
                                 std::to_string(lirno::device::kMaxRenderRate) + " (default " +
                                 std::to_string(lirno::device::kDefaultRenderRate) + ")";
    render->add_option("--rate", o.rate, rateHelp);
    render->add_option("--normalize", o.normalizeDb,
                       "scale the render so that its peak is at DB (e.g. -1)");
    render->callback([out, stems] {
        if (out->count() == 0 && stems->count() == 0) throw CLI::RequiredError("-o or --stems");
    });
    return render;
}

// The play command's own options (the edits, practice and sound come after).
CLI::App* addPlay(CLI::App& app, lirno::cli::PlayOptions& o) {
    auto* play = app.add_subcommand(
        "play", "play the edited song through the audio output or to a MIDI port");
    play->add_option("FILE", o.file, "the MIDI file")->required();
    play->add_flag("--loop", o.loop, "start again at the end, until Ctrl-C");
    play->add_option("--port", o.port,
                     "play to this MIDI port (as `ports` lists it) instead of the synthesizer");
    return play;
}

CLI::App* addRecord(CLI::App& app, lirno::cli::RecordOptions& o) {
    auto* record = app.add_subcommand(
        "record", "play the song and record what comes in on \"Lirno Player\" into a new track");
    record->add_option("FILE", o.file, "the MIDI file")->required();
    record->add_option("-o", o.out, "the song with the recorded track")->required();
    record->add_option("--port", o.port, "play the song to this MIDI port instead");
    record->add_option("--for", o.seconds, "stop after SECONDS, else at the song's end")
        ->check(CLI::PositiveNumber);
    return record;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The Lirno Player's file model and sequencer on the command line."};
    app.require_subcommand(1);

    std::string infoFile;
    auto* info =
        app.add_subcommand("info", "load a MIDI file as the player does and describe it as JSON");
    info->add_option("FILE", infoFile, "the MIDI file")->required();

    lirno::cli::MixOptions mixOptions;
    auto* mix =
        app.add_subcommand("mix", "edit the tracks as the track list does and write the results");
    mix->add_option("FILE", mixOptions.file, "the MIDI file")->required();
    mix->add_option("-o", mixOptions.out, "write the file that Save As writes");
    mix->add_option("--play-file", mixOptions.playFile,
                    "write the image as the play file holds it");
    const EditOptions mixEdits(mix);
    lirno::cli::addPracticeOptions(*mix, mixOptions.practice, false);

    lirno::cli::RenderOptions renderOptions;
    auto* render = addRender(app, renderOptions);
    const EditOptions renderEdits(render);
    lirno::cli::addPracticeOptions(*render, renderOptions.practice, true);
    render->get_option("--section")->excludes("--from");
    lirno::cli::addSoundOptions(*render, renderOptions.sound);

    lirno::cli::PlayOptions playOptions;
    auto* play = addPlay(app, playOptions);
    const EditOptions playEdits(play);
    lirno::cli::addPracticeOptions(*play, playOptions.practice, true);
    lirno::cli::addSoundOptions(*play, playOptions.sound);

    std::string lyricsFile;
    bool lrc = false;
    auto* lyrics = app.add_subcommand("lyrics", "print the song's words with their times");
    lyrics->add_option("FILE", lyricsFile, "the MIDI file")->required();
    lyrics->add_flag("--lrc", lrc, "as an LRC file, with each syllable's time (enhanced LRC)");

    auto* ports = app.add_subcommand("ports", "list the MIDI ports to record from and play to");
    lirno::cli::RecordOptions recordOptions;
    auto* record = addRecord(app, recordOptions);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // A usage error, a value out of its range among them, is a refusal.
        return app.exit(e) == 0 ? 0 : 2;
    }

    if (*info) return lirno::cli::runInfo(infoFile);
    if (*lyrics) return lirno::cli::runLyrics(lyricsFile, lrc);
    if (*ports) return lirno::cli::runPorts();
    if (*record) return lirno::cli::runRecord(recordOptions);
    if (*mix) return mixEdits.collect(mixOptions.edits) ? lirno::cli::runMix(mixOptions) : 2;
    if (*render)
        return renderEdits.collect(renderOptions.edits) ? lirno::cli::runRender(renderOptions) : 2;
    return playEdits.collect(playOptions.edits) ? lirno::cli::runPlay(playOptions) : 2;
}
