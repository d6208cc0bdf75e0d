// lirno-midi: the player's file model on the command line.
//
//   lirno-midi info FILE
//   lirno-midi mix FILE [EDIT ...] [-o OUT] [--play-file OUT2]
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>

#include "commands.h"

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

// The edit options in the order they were given on the command line.
bool collectEdits(const CLI::App& mix, const std::map<const CLI::Option*, Edit::Kind>& kinds,
                  std::vector<Edit>& edits)
{
    std::map<const CLI::Option*, std::size_t> used;
    for (const CLI::Option* opt : mix.parse_order()) {
        auto kind = kinds.find(opt);
        if (kind == kinds.end()) continue;
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

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"The Lirno Player's file model on the command line."};
    app.require_subcommand(1);

    std::string infoFile;
    auto* info = app.add_subcommand("info", "load a MIDI file as the player does and describe it as JSON");
    info->add_option("FILE", infoFile, "the MIDI file")->required();

    lirno::cli::MixOptions mixOptions;
    auto* mix = app.add_subcommand("mix", "edit the tracks as the track list does and write the results");
    mix->add_option("FILE", mixOptions.file, "the MIDI file")->required();
    mix->add_option("-o", mixOptions.out, "write the file that Save As writes");
    mix->add_option("--play-file", mixOptions.playFile, "write the image as the play file holds it");
    std::map<const CLI::Option*, Edit::Kind> kinds;
    std::vector<std::vector<std::string>> sinks(std::size(kEditOptions));
    for (std::size_t k = 0; k < std::size(kEditOptions); ++k) {
        const EditOption& e = kEditOptions[k];
        auto* opt = mix->add_option(e.flag, sinks[k], e.help)->allow_extra_args(false);
        kinds[opt] = e.kind;
    }

    CLI11_PARSE(app, argc, argv);

    if (*info) return lirno::cli::runInfo(infoFile);
    if (!collectEdits(*mix, kinds, mixOptions.edits)) return 2;
    return lirno::cli::runMix(mixOptions);
}
