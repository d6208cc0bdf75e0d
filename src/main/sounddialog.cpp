#include "main/sounddialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>
#include <tuple>

#include "main/filedialogs.h"
#include "main/soundchoice.h"
#include "mmio/message.h"

namespace lirno {

namespace {

// Sliders count in steps: hundredths of room and reverb level, tenths of
// the chorus level.
constexpr double kReverbSteps = 100.0;
constexpr double kChorusSteps = 10.0;

int steps(double value, double scale) {
    return int(std::lround(value * scale));
}

QString fontName(const std::string& path) {
    return QFile::decodeName(path.c_str());
}

}  // namespace

SoundDialog::SoundDialog(SoundChoice& choice, QWidget* owner) : QDialog(owner), choice_(choice) {
    chooseFonts = [this] { return chooseSoundFonts(this); };
    setWindowTitle(QStringLiteral("Sound"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(createFontList());
    layout->addWidget(createEffects());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    defaults_ =
        buttons->addButton(QStringLiteral("Restore &Defaults"), QDialogButtonBox::ResetRole);
    connect(defaults_, &QPushButton::clicked, this, &SoundDialog::restoreDefaults);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    showSound();
}

QWidget* SoundDialog::createFontList() {
    auto* box = new QGroupBox(QStringLiteral("SoundFonts (the first with an instrument plays it)"));
    auto* grid = new QGridLayout(box);
    fonts_ = new QListWidget(box);
    // Long paths keep both ends in sight: the folder's start and the name.
    fonts_->setMinimumWidth(440);
    fonts_->setTextElideMode(Qt::ElideMiddle);
    fonts_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->addWidget(fonts_, 0, 0, 5, 1);
    const auto button = [&](const QString& text, int row, auto slot) {
        auto* b = new QPushButton(text, box);
        grid->addWidget(b, row, 1);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    add_ = button(QStringLiteral("&Add..."), 0, &SoundDialog::addFonts);
    remove_ = button(QStringLiteral("&Remove"), 1, &SoundDialog::removeFont);
    up_ = button(QStringLiteral("Move &Up"), 2, [this] { moveFont(-1); });
    down_ = button(QStringLiteral("Move Do&wn"), 3, [this] { moveFont(1); });
    grid->setRowStretch(4, 1);
    connect(fonts_, &QListWidget::currentRowChanged, this, &SoundDialog::enableButtons);
    return box;
}

QWidget* SoundDialog::createEffects() {
    auto* effects = new QWidget;
    auto* row = new QHBoxLayout(effects);
    row->setContentsMargins(0, 0, 0, 0);
    reverb_ = new QGroupBox(QStringLiteral("Re&verb"), effects);
    chorus_ = new QGroupBox(QStringLiteral("C&horus"), effects);
    for (QGroupBox* box : {reverb_, chorus_}) {
        box->setCheckable(true);
        new QGridLayout(box);
        connect(box, &QGroupBox::toggled, this, &SoundDialog::effectsChanged);
        row->addWidget(box);
    }
    room_ = addSlider(reverb_, QStringLiteral("Room size"), 0, kReverbSteps);
    reverbLevel_ = addSlider(reverb_, QStringLiteral("Level"), 1, kReverbSteps);
    chorusLevel_ = addSlider(chorus_, QStringLiteral("Level"), 0, kChorusSteps);
    return effects;
}

// A slider gives its value when let go (or moved by a key): a font stack
// is not rebuilt for every pixel of a drag.
QSlider* SoundDialog::addSlider(QWidget* box, const QString& name, int row, double scale) {
    auto* grid = static_cast<QGridLayout*>(box->layout());
    auto* slider = new QSlider(Qt::Horizontal, box);
    slider->setRange(0, 100);  // 0..1 or 0..10
    slider->setTracking(false);
    slider->setMinimumWidth(120);
    auto* value = new QLabel(box);
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("10.00")));
    const auto show = [value, scale](int v) {
        value->setText(QString::number(v / scale, 'f', scale > kChorusSteps ? 2 : 1));
    };
    connect(slider, &QSlider::sliderMoved, value, show);
    connect(slider, &QSlider::valueChanged, value, show);
    connect(slider, &QSlider::valueChanged, this, &SoundDialog::effectsChanged);
    auto* label = new QLabel(name, box);
    label->setBuddy(slider);
    grid->addWidget(label, row, 0);
    grid->addWidget(slider, row, 1);
    grid->addWidget(value, row, 2);
    return slider;
}

void SoundDialog::addFonts() {
    for (const QString& font : chooseFonts()) {
        device::SoundSettings s = choice_.settings();
        s.soundFonts.push_back(QFile::encodeName(font).toStdString());
        if (!apply(s, font)) return;
    }
    fonts_->setCurrentRow(fonts_->count() - 1);
}

void SoundDialog::removeFont() {
    const int row = fonts_->currentRow();
    if (row < 0) return;
    device::SoundSettings s = choice_.settings();
    s.soundFonts.erase(s.soundFonts.begin() + row);
    if (apply(s)) fonts_->setCurrentRow(std::min(row, fonts_->count() - 1));
}

void SoundDialog::moveFont(int by) {
    const int row = fonts_->currentRow();
    device::SoundSettings s = choice_.settings();
    if (row < 0 || row + by < 0 || row + by >= int(s.soundFonts.size())) return;
    std::swap(s.soundFonts[std::size_t(row)], s.soundFonts[std::size_t(row + by)]);
    if (apply(s)) fonts_->setCurrentRow(row + by);
}

void SoundDialog::effectsChanged() {
    if (showing_) return;
    device::SoundSettings s = choice_.settings();
    s.reverb = {reverb_->isChecked(), room_->value() / kReverbSteps,
                reverbLevel_->value() / kReverbSteps};
    s.chorus = {chorus_->isChecked(), chorusLevel_->value() / kChorusSteps};
    if (s != choice_.settings()) apply(s);
}

void SoundDialog::restoreDefaults() {
    if (const int r = choice_.restoreDefaults(); r != 0)
        MessageBox(Owner::Main, choice_.errorText(r).toStdString(), "Sound", Icon::Exclamation);
    showSound();
}

bool SoundDialog::apply(const device::SoundSettings& s, const QString& font) {
    const int r = choice_.change(s);
    if (r != 0) {
        QString text =
            QStringLiteral("The sound could not be changed: %1").arg(choice_.errorText(r));
        if (!font.isEmpty())
            text = QStringLiteral(
                       "This SoundFont cannot be used:\n%1\n\n%2\nThe sound stays as it was.")
                       .arg(font, choice_.errorText(r));
        MessageBox(Owner::Main, text.toStdString(), "Sound", Icon::Exclamation);
    }
    showSound();
    return r == 0;
}

// The dialog shows the sound the device has, whatever was asked.
void SoundDialog::showSound() {
    const device::SoundSettings& s = choice_.settings();
    const int row = fonts_->currentRow();
    showing_ = true;
    fonts_->clear();
    for (const std::string& f : s.soundFonts) {
        fonts_->addItem(fontName(f));
        fonts_->item(fonts_->count() - 1)->setToolTip(fontName(f));
    }
    fonts_->setCurrentRow(std::min(row, fonts_->count() - 1));
    reverb_->setChecked(s.reverb.on);
    chorus_->setChecked(s.chorus.on);
    for (auto [slider, v, scale] : {std::tuple{room_, s.reverb.room, kReverbSteps},
                                    std::tuple{reverbLevel_, s.reverb.level, kReverbSteps},
                                    std::tuple{chorusLevel_, s.chorus.level, kChorusSteps}}) {
        slider->setValue(steps(v, scale));
    }
    showing_ = false;
    enableButtons();
}

void SoundDialog::enableButtons() {
    const int row = fonts_->currentRow();
    remove_->setEnabled(row >= 0);
    up_->setEnabled(row > 0);
    down_->setEnabled(row >= 0 && row + 1 < fonts_->count());
}

void showSoundDialog(SoundChoice& choice, QWidget* owner) {
    SoundDialog dialog(choice, owner);
    dialog.exec();
}

}  // namespace lirno
