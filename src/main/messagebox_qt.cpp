#include "main/messagebox_qt.h"

#include <QMessageBox>

#include "main/shell.h"

namespace lirno {

MessageBoxHandler qtMessageBoxes() {
    return [](const Message& m) {
        if (shell.fEnding) return;
        QWidget* owner = m.owner == Owner::Main ? shell.hWndMain.data() : nullptr;
        const QString caption =
            QString::fromStdString(m.caption.empty() ? kDefaultCaption : m.caption);
        const auto icon = m.icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon;
        QMessageBox box(icon, caption, QString::fromStdString(m.text), QMessageBox::Ok, owner);
        box.exec();
    };
}

}  // namespace lirno
