#include "main/lyricspane.h"

#include <QCloseEvent>
#include <QSettings>
#include <QVBoxLayout>
#include <span>

#include "device/song/song.h"
#include "main/shell.h"
#include "main/songmemory.h"
#include "mmio/playback.h"

namespace lirno {

namespace {

const QString kWantedKey = QStringLiteral("lyricsPane");
constexpr QSize kPaneSize(445, 84);
constexpr int kGap = 8;  // pixels between the main window and the pane below it

void setWanted(bool wanted) {
    settingsFile().setValue(kWantedKey, wanted);
}

QString escaped(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toHtmlEscaped();
}

}  // namespace

LyricsPlace placeAt(const device::Lyrics& words, std::int64_t atNs) {
    LyricsPlace place;
    // Times never go back from one syllable to the next.
    for (std::size_t l = 0; l < words.lines.size(); ++l) {
        const auto& syllables = words.lines[l].syllables;
        for (std::size_t s = 0; s < syllables.size(); ++s) {
            if (syllables[s].timeNs > atNs) return place;
            place = {static_cast<int>(l), static_cast<int>(s)};
        }
    }
    return place;
}

QString lineHtml(const device::LyricLine& line, int sungUpTo) {
    QString html;
    for (int s = 0; s < static_cast<int>(line.syllables.size()); ++s) {
        const QString text = escaped(line.syllables[static_cast<std::size_t>(s)].text);
        if (s < sungUpTo)
            html += QStringLiteral("<span style=\"color:#1f4fbf\">%1</span>").arg(text);
        else if (s == sungUpTo)
            html += QStringLiteral("<b style=\"color:#c02020\">%1</b>").arg(text);
        else
            html += text;
    }
    return html;
}

LyricsPane::LyricsPane(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool), current_(new QLabel(this)), next_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Lyrics"));
    setAccessibleName(QStringLiteral("Lyrics"));
    resize(kPaneSize);
    QFont font = this->font();
    font.setPointSize(font.pointSize() + 4);
    for (QLabel* label : {current_, next_}) {
        label->setFont(font);
        label->setTextFormat(Qt::RichText);
        label->setAlignment(Qt::AlignCenter);
    }
    QPalette faint = next_->palette();
    faint.setColor(QPalette::WindowText, QColor(96, 96, 96));
    next_->setPalette(faint);
    current_->setAccessibleName(QStringLiteral("Line sung"));
    next_->setAccessibleName(QStringLiteral("Next line"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(current_);
    layout->addWidget(next_);
    hide();
}

bool LyricsPane::wanted() {
    return settingsFile().value(kWantedKey, false).toBool();
}

void LyricsPane::songLoaded() {
    words_ = {};
    read_ = false;
    if (isVisible() || wanted()) readWords();
    if (!words_.empty() && wanted() && !isVisible()) open();
    placed_ = false;
    follow(0);
}

void LyricsPane::readWords() {
    read_ = true;
    const std::span<const std::uint8_t> image(loaded.image.data(), loaded.image.dwFileBufSize);
    setWords(image.empty() ? device::Lyrics{} : device::readLyrics(image));
}

void LyricsPane::setWords(device::Lyrics words) {
    words_ = std::move(words);
    placed_ = false;
    follow(playback.dwPlayPos);
}

void LyricsPane::toggle() {
    if (isVisible()) {
        hide();
        setWanted(false);
        emit shownChanged(false);
        return;
    }
    setWanted(true);
    open();
}

void LyricsPane::open() {
    if (!read_ && playback.fFileLoaded) readWords();
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().bottomLeft() + QPoint(0, kGap));
    show();
    placed_ = false;
    follow(playback.dwPlayPos);
    emit shownChanged(true);
}

void LyricsPane::follow(std::uint32_t units) {
    if (!isVisible()) return;
    const LyricsPlace place = placeAt(words_, device::unitsToNs(units));
    if (placed_ && place == place_) return;
    place_ = place;
    placed_ = true;
    showPlace();
}

void LyricsPane::showPlace() {
    const auto line = [this](int l) -> const device::LyricLine* {
        return l >= 0 && l < static_cast<int>(words_.lines.size())
                   ? &words_.lines[static_cast<std::size_t>(l)]
                   : nullptr;
    };
    const device::LyricLine* now = line(place_.line);
    const device::LyricLine* after = line(place_.line + 1);
    current_->setText(now ? lineHtml(*now, place_.syllable) : QString());
    next_->setText(after ? lineHtml(*after, -1) : QString());
    if (words_.empty()) current_->setText(QStringLiteral("<i>No words in this song</i>"));
}

void LyricsPane::closeEvent(QCloseEvent* event) {
    // The user's close box; the program's own end leaves the wish as it was.
    if (!shell.fEnding) setWanted(false);
    emit shownChanged(false);
    QWidget::closeEvent(event);
}

}  // namespace lirno
