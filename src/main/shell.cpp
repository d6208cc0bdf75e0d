#include "main/shell.h"

#include <QApplication>
#include <QDialog>

#include "mmio/playback.h"

namespace lirno {

Shell shell;

namespace {
const bool kShellResets = (addGlobalReset([] { shell = Shell{}; }), true);
}  // namespace

void endProgram() {
    shell.fEnding = true;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
            dialog->reject();
    }
    QCoreApplication::exit(0);
}

std::string commandLineFileName(int argc, const char* const* argv) {
    std::string name;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) name += ' ';
        name += argv[i];
    }
    return name;
}

}  // namespace lirno
