#include "main/accessible.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QRadioButton>
#include <QToolButton>

#include "main/toolbar.h"

namespace lirno {

namespace {

// The style a toolbar button was made with, or -1 for a button that is not
// one of the toolbar's own (the logo, or a button still being made).
int toolbarStyle(const QAbstractButton* b) {
    const auto* bar = qobject_cast<const Toolbar*>(b->parentWidget());
    if (!bar) return -1;
    for (const TBBUTTON& record : tbButtons)
        if (record.fsStyle != TBSTYLE_SEP && bar->button(record.idCommand) == b)
            return record.fsStyle;
    return -1;
}

class AccessibleButton : public QAccessibleWidget {
  public:
    enum class Kind { Toggles, ToolbarButton };

    // A button that keeps a mark of its own (a check box, a radio button)
    // toggles; one that acts is pressed; a toolbar button does what its
    // style says.
    AccessibleButton(QAbstractButton* b, QAccessible::Role role, Kind kind)
        : QAccessibleWidget(b, role), kind_(kind) {}

    QString text(QAccessible::Text t) const override {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.isEmpty()) s = button()->text().remove(u'&');
        return s;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (toggles()) {
            s.checkable = true;
            s.checked = button()->isChecked();
        } else {
            // Play and Pause show their lasting state as a pressed button.
            s.pressed = button()->isDown() || button()->isChecked();
        }
        return s;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (button()->isEnabled()) names << (toggles() ? toggleAction() : pressAction());
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override {
        if (name != pressAction() && name != toggleAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        // click(), not toggle(): only a click reaches the handlers.
        if (button()->isEnabled()) button()->click();
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
    // Asked each time: the interface may be made before the toolbar knows
    // the button.
    bool toggles() const {
        return kind_ == Kind::Toggles ||
               (kind_ == Kind::ToolbarButton && toolbarStyle(button()) == TBSTYLE_CHECK);
    }

    Kind kind_;
};

// Qt owns the interfaces a factory makes (it caches them per widget).
QAccessibleInterface* buttonFactory(const QString&, QObject* object) {
    using Kind = AccessibleButton::Kind;
    if (auto* box = qobject_cast<QCheckBox*>(object))
        return new AccessibleButton(box, QAccessible::CheckBox, Kind::Toggles);
    if (auto* radio = qobject_cast<QRadioButton*>(object))
        return new AccessibleButton(radio, QAccessible::RadioButton, Kind::Toggles);
    auto* tool = qobject_cast<QToolButton*>(object);
    if (tool && qobject_cast<const Toolbar*>(tool->parentWidget()))
        return new AccessibleButton(tool, QAccessible::PushButton, Kind::ToolbarButton);
    return nullptr;
}

}  // namespace

void installAccessibleButtons() {
    static const bool installed = [] {
        QAccessible::installFactory(buttonFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace lirno
