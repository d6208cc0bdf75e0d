// Music > MIDI Output...: the synthesizer or one of the system's MIDI
// destinations. A choice is heard at once (a song under way goes on
// through it) and kept; a port the device cannot open is refused with a box
// giving the device's words, and the choice stays as it was.
#pragma once

#include <QDialog>
#include <string>

class QListWidget;
class QPushButton;

namespace lirno {

class PortChoice;

class OutputDialog : public QDialog {
    Q_OBJECT
  public:
    OutputDialog(PortChoice& choice, QWidget* owner);

    // The list, for tests and screenshots: "Synthesizer" first, then the ports.
    QListWidget* portList() const { return list_; }

  private:
    void choose(int row);
    void showChoice();

    PortChoice& choice_;
    QListWidget* list_ = nullptr;
    bool showing_ = false;  // the list follows the choice, not the other way
};

// Shows the dialog modally over the main window.
void showOutputDialog(PortChoice& choice, QWidget* owner);

}  // namespace lirno
