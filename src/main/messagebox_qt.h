// Message boxes on the screen: what the shell installs as MessageBox's handler.
#pragma once

#include "mmio/message.h"

namespace lirno {

// Shows each box modally: owned by the main window when the box says so (and
// the window exists), else by nothing; the default caption when none is given.
MessageBoxHandler qtMessageBoxes();

}  // namespace lirno
