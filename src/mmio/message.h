// Modal message boxes, the program's only way of reporting a failure.
//
// The model never talks to a window system: it calls MessageBox, and whoever
// runs the model installs how a box is shown (a dialog in the player, a line
// on stderr in the command-line tool, a recorder in tests).
#pragma once

#include <functional>
#include <string>

namespace lirno {

enum class Owner { None, Main };        // no owner window, or the main window
enum class Icon { None, Exclamation };  // the warning icon

// An empty caption means the platform's default caption.
inline constexpr const char* kDefaultCaption = "Error";

struct Message {
    Owner owner = Owner::None;
    std::string text;
    std::string caption;
    Icon icon = Icon::None;
    bool operator==(const Message&) const = default;
};

using MessageBoxHandler = std::function<void(const Message&)>;

// Shows one box and returns when it is closed (every box here has only OK).
void MessageBox(Owner owner, const std::string& text, const std::string& caption = {},
                Icon icon = Icon::None);

// Installs how boxes are shown; returns the previous handler. Without a
// handler, boxes are printed to stderr as "caption: text".
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// Formats a box the way the command-line tool prints it.
std::string messageLine(const Message& m);

}  // namespace lirno
