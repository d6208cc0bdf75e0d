// The program's resources as data: the string table, the menu and the two
// dialog templates. The pictures are in lirno.qrc. Nothing here needs Qt, so
// the texts can be checked without a display.
#pragma once

#include <span>
#include <string_view>

#include "resource.h"

namespace lirno::res {

// The string with this id; empty for an id the table does not hold.
std::string_view LoadString(int id);

// Menu resource 10. An item with id 0 is a separator.
struct MenuItem {
    std::string_view text;
    int id = 0;
    bool grayed = false;
};
struct MenuPopup {
    std::string_view title;
    std::span<const MenuItem> items;
};
std::span<const MenuPopup> mainMenu();
// The File menu's recent songs, a submenu above Exit: the songs, then a
// separator and this item.
inline constexpr std::string_view kRecentSongsTitle = "Recent &Songs";
inline constexpr MenuItem kClearRecentItem{"&Clear List", IDM_CLEARRECENT};

// Dialog templates. Places and sizes are in dialog units (a quarter of the
// font's average character width, an eighth of its height).
enum class ControlKind { DefButton, Icon, CenteredText, LeftText };
struct DialogControl {
    ControlKind kind;
    int x, y, cx, cy;
    std::string_view text;  // the button's caption, the icon's name or the text
};
struct DialogTemplate {
    int id = 0;
    std::string_view title;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::span<const DialogControl> controls;
};
// The template with this id, or nullptr (the record notice: with no song).
const DialogTemplate* findDialog(int id);
// The record notice (999) for why recording cannot start.
enum class RecordNotice { NoSong, NoInput, Full, Unfit };
const DialogTemplate& recordNotice(RecordNotice why);

}  // namespace lirno::res
