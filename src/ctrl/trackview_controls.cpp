#include "ctrl/trackview_controls.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStringDecoder>

#include <algorithm>
#include <utility>

#include "ctrl/trackrows.h"

namespace lirno {

QFont trackViewFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    // The columns are as narrow as the old 8-pixel font made them: condensed,
    // every program name fits its list at a size that still reads easily.
    font.setStretch(QFont::Condensed);
    return font;
}

QString nameToText(std::string_view bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString text = utf8.decode(view);
    if (utf8.hasError()) return QString::fromLatin1(view);
    return text;
}

std::string textToName(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (static_cast<std::size_t>(bytes.size()) > kMaxTypedName) {
        auto cut = static_cast<qsizetype>(kMaxTypedName);
        // Back up to the start of a character: never leave half of one.
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
        bytes.truncate(cut);
    }
    return bytes.toStdString();
}

NameBox::NameBox(const QString& text, QWidget* parent) : QLineEdit(parent) {
    setText(text);
    setMaxLength(std::max(static_cast<int>(kMaxTypedName), static_cast<int>(text.size())));
    connect(this, &QLineEdit::textEdited, this, &NameBox::shrinkLimit);
}

void NameBox::shrinkLimit() {
    const int limit = std::max(static_cast<int>(kMaxTypedName), static_cast<int>(text().size()));
    if (limit >= maxLength()) return;
    // Setting the limit sets the text again, which moves the cursor: keep it.
    const int cursor = cursorPosition();
    setMaxLength(limit);
    setCursorPosition(cursor);
}

RowSlider::RowSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, 127);
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(64);
}

void RowSlider::mousePressEvent(QMouseEvent* event) {
    pressed_ = pressed_ || event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton;
    QSlider::mousePressEvent(event);
}

void RowSlider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (!pressed_ || event->buttons() != Qt::NoButton) return;
    pressed_ = false;
    emit gestureEnded();
}

void RowSlider::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    if (event->isAutoRepeat()) return;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            emit gestureEnded();
            break;
        default:
            break;
    }
}

namespace {

// The titles of the header text: the words between runs of two or more blanks.
QStringList headerTitles(const QString& text) {
    QStringList titles;
    QString title;
    int blanks = 0;
    for (const QChar c : text) {
        if (c == u' ') {
            ++blanks;
            continue;
        }
        if (blanks >= 2 && !title.isEmpty())
            titles.append(std::exchange(title, {}));
        else if (blanks == 1)
            title += u' ';
        blanks = 0;
        title += c;
    }
    if (!title.isEmpty()) titles.append(title);
    return titles;
}

}  // namespace

TrackHeader::TrackHeader(QWidget* parent) : QLabel(parent) {
    setText(QString::fromLatin1(kHeaderText.data(), static_cast<qsizetype>(kHeaderText.size())));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(kFrameWidth);
    setFont(trackViewFont());
    setAccessibleName(QStringLiteral("Track list header"));
}

int TrackHeader::columnLeft(int column) const {
    const int x = kColumns[static_cast<std::size_t>(column)].x;
    if (!origin_ || origin_->window() != window()) return kFrameWidth + x;
    return mapFrom(window(), origin_->mapTo(window(), QPoint(x, 0))).x();
}

void TrackHeader::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect();
    const QStringList titles = headerTitles(text());
    const int n = std::min(static_cast<int>(titles.size()), static_cast<int>(kColumnCount));
    for (int c = 0; c < n; ++c) {
        const int width = fontMetrics().horizontalAdvance(titles[c]);
        int x = columnLeft(c);
        // The small boxes carry their title from their left edge; the wide
        // controls have theirs centred above them.
        if (c >= kColName) x += (kColumns[static_cast<std::size_t>(c)].width - width) / 2;
        painter.drawText(QRect(x, area.top(), width + 1, area.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, titles[c]);
    }
}

}  // namespace lirno
