// The main window's toolbar: two rows of image buttons. The position slider,
// time scale, readout and logo sit on it at fixed places (the main window
// puts them there).
#pragma once

#include <QToolButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <map>

namespace lirno {

// One button record, as the toolbar takes it.
struct TBBUTTON {
    int iBitmap;    // picture in the strip
    int idCommand;  // 0 for a separator
    std::uint8_t fsState;
    std::uint8_t fsStyle;
};
inline constexpr std::uint8_t TBSTATE_CHECKED = 0x01;
inline constexpr std::uint8_t TBSTATE_ENABLED = 0x04;
inline constexpr std::uint8_t TBSTATE_WRAP = 0x20;  // the row ends after this button
inline constexpr std::uint8_t TBSTYLE_BUTTON = 0x00;
inline constexpr std::uint8_t TBSTYLE_SEP = 0x01;
inline constexpr std::uint8_t TBSTYLE_CHECK = 0x02;

extern const std::array<TBBUTTON, 15> tbButtons;

class Toolbar : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kHeight = 50;  // two rows of buttons and the time scale

    explicit Toolbar(QWidget* parent);

    // What the commands use to keep the buttons in step with the state.
    void enableButton(int id, bool enable);
    void checkButton(int id, bool check);
    bool isButtonChecked(int id) const;
    // The button of a command, or nullptr.
    QToolButton* button(int id) const;

  signals:
    // A click on a button; a check button has already changed its mark.
    void commandTriggered(int id);

  private:
    void addButton(const TBBUTTON& b, QPoint at);
    void addSeparator(QPoint at);

    std::map<int, QToolButton*> buttons_;
};

}  // namespace lirno
