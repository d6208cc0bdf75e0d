// The keyboard's way through the player: the menu's standard shortcuts,
// Space to play and pause, Tab through the toolbar, and the first focus on
// the button that is most useful.
#pragma once

#include <QObject>

namespace lirno {

class MainWndProc;

// Space plays when stopped and pauses or resumes otherwise, unless a text
// box or a button other than Play and Pause (which Space presses) has the
// focus. Play takes the focus
// from Open when a song first makes it usable.
class KeyboardFilter : public QObject {
  public:
    explicit KeyboardFilter(MainWndProc& window);
    ~KeyboardFilter() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool isSpaceForPlayback(QObject* watched, QEvent* event) const;

    MainWndProc& window_;
};

// Shortcuts, Tab order, first focus and the Space key, for a window whose
// creation went through.
void setUpKeyboard(MainWndProc& window);

}  // namespace lirno
