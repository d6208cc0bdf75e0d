// What assistive tools see of the player's buttons.
#pragma once

namespace lirno {

// Installs, once per process, the accessible interfaces of the toolbar's
// buttons and the track rows' On and Solo controls. Their roles follow what
// the widgets do (Play is a push button even though it shows a pressed
// state; Solo is a radio button), and the tool's own action, "Press" or
// "Toggle", is a click: it runs the handler a mouse click runs, so the
// controls and the song stay in step.
void installAccessibleButtons();

}  // namespace lirno
