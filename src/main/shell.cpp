#include "main/shell.h"

#include "mmio/playback.h"

namespace lirno {

Shell shell;

namespace {
const bool kShellResets = (addGlobalReset([] { shell = Shell{}; }), true);
}  // namespace

std::string commandLineFileName(int argc, const char* const* argv)
{
    std::string name;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) name += ' ';
        name += argv[i];
    }
    return name;
}

}  // namespace lirno
