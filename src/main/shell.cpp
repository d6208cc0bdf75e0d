#include "main/shell.h"

namespace lirno {

Shell shell;

void resetShell() { shell = Shell{}; }

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
