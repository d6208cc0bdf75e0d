#include "main/toolbar.h"

#include <QFrame>

#include "main/resload.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

const std::array<TBBUTTON, 15> tbButtons{{
    {0, IDM_NEW, 0, TBSTYLE_BUTTON},
    {1, IDM_OPEN, TBSTATE_ENABLED, TBSTYLE_BUTTON},
    {2, IDM_SAVEAS, 0, TBSTYLE_BUTTON},
    {0, 0, 0, TBSTYLE_SEP},
    {7, IDM_ABOUT, TBSTATE_ENABLED, TBSTYLE_BUTTON},
    {0, 0, 0, TBSTYLE_SEP},
    {9, IDM_VIEWTRACKS, TBSTATE_CHECKED, TBSTYLE_CHECK},
    {10, IDM_VOLUME, TBSTATE_ENABLED | TBSTATE_WRAP, TBSTYLE_BUTTON},
    {3, IDM_STOP, 0, TBSTYLE_BUTTON},
    {4, IDM_PLAY, 0, TBSTYLE_BUTTON},
    {5, IDM_PAUSE, 0, TBSTYLE_BUTTON},
    {0, 0, 0, TBSTYLE_SEP},
    {6, IDM_RECORD, TBSTATE_ENABLED, TBSTYLE_BUTTON},
    {0, 0, 0, TBSTYLE_SEP},
    {8, IDM_LOOP, 0, TBSTYLE_CHECK},
}};

namespace {

constexpr int kButtonWidth = 23;  // a 16 x 16 picture with its border
constexpr int kButtonHeight = 22;
constexpr int kSeparatorWidth = 8;
constexpr int kLeft = 2;
constexpr int kTop = 2;
constexpr int kRowStep = 24;

// Play and Pause are push buttons that the commands show pressed while
// their state lasts; a click must not change that mark by itself.
class ToolbarButton : public QToolButton {
  public:
    ToolbarButton(QWidget* parent, bool checkStyle)
        : QToolButton(parent), checkStyle_(checkStyle) {}

  protected:
    void nextCheckState() override {
        if (checkStyle_) QToolButton::nextCheckState();
    }

  private:
    bool checkStyle_;
};

}  // namespace

Toolbar::Toolbar(QWidget* parent) : QWidget(parent) {
    setFixedHeight(kHeight);
    QPoint at(kLeft, kTop);
    for (const auto& b : tbButtons) {
        if (b.fsStyle == TBSTYLE_SEP) {
            addSeparator(at);
            at.rx() += kSeparatorWidth;
        } else {
            addButton(b, at);
            at.rx() += kButtonWidth;
        }
        if (b.fsState & TBSTATE_WRAP) at = QPoint(kLeft, at.y() + kRowStep);
    }
}

void Toolbar::addButton(const TBBUTTON& b, QPoint at) {
    auto* button = new ToolbarButton(this, b.fsStyle == TBSTYLE_CHECK);
    button->setGeometry(at.x(), at.y(), kButtonWidth, kButtonHeight);
    button->setIcon(QIcon(toolbarImage(b.iBitmap)));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    // Tab reaches the buttons (Space presses them); a click leaves the focus where it was.
    button->setFocusPolicy(Qt::TabFocus);
    // Every button can show a pressed state; only check buttons toggle it on a click.
    button->setCheckable(true);
    button->setChecked(b.fsState & TBSTATE_CHECKED);
    button->setEnabled(b.fsState & TBSTATE_ENABLED);
    const QString tip = loadString(b.idCommand);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    const int id = b.idCommand;
    connect(button, &QToolButton::clicked, this, [this, id] { emit commandTriggered(id); });
    buttons_[id] = button;
}

void Toolbar::addSeparator(QPoint at) {
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(at.x() + kSeparatorWidth / 2 - 1, at.y() + 2, 2, kButtonHeight - 4);
}

void Toolbar::enableButton(int id, bool enable) {
    if (auto* b = button(id)) b->setEnabled(enable);
}

void Toolbar::checkButton(int id, bool check) {
    if (auto* b = button(id)) b->setChecked(check);
}

bool Toolbar::isButtonChecked(int id) const {
    const auto* b = button(id);
    return b && b->isChecked();
}

QToolButton* Toolbar::button(int id) const {
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

}  // namespace lirno
