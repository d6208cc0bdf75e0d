#include "main/aboutdlg.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <string>

#include "main/resload.h"
#include "res/resources.h"

namespace lirno {

AboutDlgProc::AboutDlgProc(int dialogId, QWidget* owner) : QDialog(owner) {
    measureFont();
    if (const auto* t = res::findDialog(dialogId)) createControls(*t);
}

AboutDlgProc::AboutDlgProc(const res::DialogTemplate& t, QWidget* owner) : QDialog(owner) {
    measureFont();
    createControls(t);
}

void AboutDlgProc::measureFont() {
    // Dialog units follow the dialog's font, as on the desktop the layouts
    // were made for: a unit is a quarter of the average character's width
    // and an eighth of the character height.
    const QFontMetrics fm(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (fm.horizontalAdvance(alphabet) / 26 + 1) / 2;
    baseY_ = fm.height();
}

QRect AboutDlgProc::toPixels(int x, int y, int cx, int cy) const {
    return QRect(x * baseX_ / 4, y * baseY_ / 8, cx * baseX_ / 4, cy * baseY_ / 8);
}

void AboutDlgProc::createControls(const res::DialogTemplate& t) {
    setWindowTitle(QString::fromUtf8(t.title));
    setFixedSize(toPixels(0, 0, t.cx, t.cy).size());
    for (const auto& c : t.controls) createControl(c);
}

void AboutDlgProc::createControl(const res::DialogControl& c) {
    const QRect place = toPixels(c.x, c.y, c.cx, c.cy);
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
        case res::ControlKind::DefButton: {
            auto* ok = new QPushButton(text, this);
            ok->setGeometry(place);
            ok->setDefault(true);
            ok->setFocus();
            connect(ok, &QPushButton::clicked, this, [this] { done(1); });
            break;
        }
        case res::ControlKind::Icon: {
            auto* icon = new QLabel(this);
            const QPixmap picture = loadIconPixmap(std::string(c.text).c_str());
            icon->setPixmap(picture);
            icon->setGeometry(QRect(place.topLeft(), picture.size()));
            icon->setAccessibleName(windowTitle());
            break;
        }
        case res::ControlKind::CenteredText:
        case res::ControlKind::LeftText: {
            auto* label = new QLabel(text, this);
            label->setGeometry(place);
            label->setWordWrap(true);
            const Qt::Alignment h =
                c.kind == res::ControlKind::CenteredText ? Qt::AlignHCenter : Qt::AlignLeft;
            label->setAlignment(h | Qt::AlignTop);
            break;
        }
    }
}

}  // namespace lirno
