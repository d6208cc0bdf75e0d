#include "main/resload.h"

#include <QBitmap>
#include <QPainter>

#include "res/resources.h"

// Outside any namespace: rcc names its initialiser globally.
static void initLirnoQrc() {
    Q_INIT_RESOURCE(lirno);
}

namespace lirno {

namespace {
constexpr int kStripImageWidth = 16;
constexpr int kStripImages = 11;
const QColor kStripBackground(192, 192, 192);
}  // namespace

void initResources() {
    initLirnoQrc();
}

QString loadString(int id) {
    return QString::fromUtf8(res::LoadString(id));
}

QPixmap loadIconPixmap(int id) {
    return QPixmap(QStringLiteral(":/res/icon/%1.png").arg(id));
}

QPixmap loadIconPixmap(const char* name) {
    return QPixmap(QStringLiteral(":/res/icon/%1.png").arg(QLatin1String(name)));
}

QIcon windowIcon() {
    QIcon icon(loadIconPixmap(res::IDI_LOGO));
    icon.addPixmap(loadIconPixmap(res::IDI_SMALL)
                       .scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return icon;
}

QPixmap toolbarImage(int index) {
    static const QImage strip(QStringLiteral(":/res/bitmap/%1.png").arg(res::IDB_TOOLBAR));
    QPixmap square(kStripImageWidth, kStripImageWidth);
    square.fill(Qt::transparent);
    if (index < 0 || index >= kStripImages || strip.isNull()) return square;
    QImage picture = strip.copy(index * kStripImageWidth, 0, kStripImageWidth, strip.height())
                         .convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixelColor(x, y) == kStripBackground) picture.setPixel(x, y, 0);
    QPainter p(&square);
    p.drawImage(0, 0, picture);
    return square;
}

const QFont& hfont() {
    static const QFont font = [] {
        QFont f(QStringLiteral("Sans Serif"));
        f.setStyleHint(QFont::SansSerif);
        f.setPixelSize(11);
        return f;
    }();
    return font;
}

}  // namespace lirno
