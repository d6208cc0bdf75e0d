#include "main/keyboard.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>

#include "main/mainwnd.h"
#include "main/mediacontrol.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

namespace {

void addShortcuts(MainWndProc& w) {
    const std::pair<int, QKeySequence> shortcuts[] = {
        {IDM_OPEN, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {IDM_SAVEAS, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {IDM_EXIT, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        // Speed on Ctrl, key on Ctrl+Shift; Home goes back to normal.
        {IDM_FASTER, QKeySequence(Qt::CTRL | Qt::Key_Up)},
        {IDM_SLOWER, QKeySequence(Qt::CTRL | Qt::Key_Down)},
        {IDM_NORMALSPEED, QKeySequence(Qt::CTRL | Qt::Key_Home)},
        {IDM_KEYUP, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Up)},
        {IDM_KEYDOWN, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Down)},
        {IDM_ORIGINALKEY, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Home)},
        {IDM_PASSAGESTART, QKeySequence(Qt::CTRL | Qt::Key_BracketLeft)},
        {IDM_PASSAGEEND, QKeySequence(Qt::CTRL | Qt::Key_BracketRight)},
        {IDM_CLEARPASSAGE, QKeySequence(Qt::CTRL | Qt::Key_Backslash)},
        {IDM_SOUND, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)},
        {IDM_MIDIOUTPUT, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)},
        {IDM_LYRICS, QKeySequence(Qt::CTRL | Qt::Key_L)},
    };
    for (const auto& [id, keys] : shortcuts)
        if (QAction* action = w.menuAction(id)) action->setShortcut(keys);
}

// The toolbar left to right, row by row, then the position slider and the
// logo; the track rows, made later, follow.
void setTabOrder(MainWndProc& w) {
    QWidget* previous = nullptr;
    auto chain = [&previous](QWidget* next) {
        if (!next) return;
        if (previous) QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (const TBBUTTON& b : tbButtons)
        if (b.fsStyle != TBSTYLE_SEP) chain(w.toolbar()->button(b.idCommand));
    chain(w.timeTrack());
    chain(w.logo());
}

}  // namespace

KeyboardFilter::KeyboardFilter(MainWndProc& window) : QObject(&window), window_(window) {
    // Keys go to the focused control first: only the application sees
    // Space before it.
    qApp->installEventFilter(this);
}

KeyboardFilter::~KeyboardFilter() {
    qApp->removeEventFilter(this);
}

bool KeyboardFilter::isSpaceForPlayback(QObject* watched, QEvent* event) const {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Space || (key->modifiers() & ~Qt::KeypadModifier)) return false;
    const auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != &window_) return false;
    // The key goes to the focused control first: a button takes Space as
    // its own press, a text box as a blank. Play and Pause are the
    // exception: a press of the one that would do nothing (Play while
    // playing) does what the other would.
    const Toolbar* bar = window_.toolbar();
    if (target == bar->button(IDM_PLAY) || target == bar->button(IDM_PAUSE)) return true;
    return !(qobject_cast<const QAbstractButton*>(target) ||
             target->testAttribute(Qt::WA_InputMethodEnabled));
}

bool KeyboardFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange && watched == window_.toolbar()->button(IDM_PLAY)) {
        // Start-up with no song leaves the focus on Open; once Open has
        // brought a song, Play is the next step.
        auto* play = window_.toolbar()->button(IDM_PLAY);
        const QWidget* focus = window_.focusWidget();
        if (play->isEnabled() && (!focus || focus == window_.toolbar()->button(IDM_OPEN)))
            play->setFocus(Qt::OtherFocusReason);
        return false;
    }
    if (!isSpaceForPlayback(watched, event)) return false;
    // The release is taken too, so that no control acts on half a key.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress && !key->isAutoRepeat()) mediaPlayPause(window_);
    return true;
}

void setUpKeyboard(MainWndProc& w) {
    addShortcuts(w);
    if (!w.timeTrack()) return;
    setTabOrder(w);
    new KeyboardFilter(w);  // owned by the window
    if (QToolButton* open = w.toolbar()->button(IDM_OPEN)) open->setFocus(Qt::OtherFocusReason);
}

}  // namespace lirno
