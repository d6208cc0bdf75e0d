// Message boxes on the screen: what the shell installs as MessageBox's handler.
#pragma once

#include "mmio/message.h"

namespace lirno {

// Shows each box modally: owned by the main window when the box says so (and
// the window exists), else by nothing; the default caption when none is given.
// Once the program is ending quietly, nothing is shown.
MessageBoxHandler qtMessageBoxes();

}  // namespace lirno
