// Music > Sound...: the stack of SoundFonts (the first that has an
// instrument plays it), reverb and chorus. Every change is heard at once
// (the device takes it while a song plays) and kept; a font the device
// cannot read is refused with a box naming it, and nothing changes.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

#include "device/device.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;

namespace lirno {

class SoundChoice;

class SoundDialog : public QDialog {
    Q_OBJECT
  public:
    SoundDialog(SoundChoice& choice, QWidget* owner);

    // What Add asks for; the file dialog unless replaced (tests).
    std::function<QStringList()> chooseFonts;

    // The controls, for tests and screenshots.
    QListWidget* fontList() const { return fonts_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* upButton() const { return up_; }
    QPushButton* downButton() const { return down_; }
    QPushButton* defaultsButton() const { return defaults_; }
    QGroupBox* reverbBox() const { return reverb_; }
    QGroupBox* chorusBox() const { return chorus_; }
    QSlider* roomSlider() const { return room_; }
    QSlider* reverbLevelSlider() const { return reverbLevel_; }
    QSlider* chorusLevelSlider() const { return chorusLevel_; }

  private:
    QWidget* createFontList();
    QWidget* createEffects();
    QSlider* addSlider(QWidget* box, const QString& name, int row, double scale);

    void addFonts();
    void removeFont();
    void moveFont(int by);
    void effectsChanged();
    void restoreDefaults();
    // The device takes s, or the box says why not (naming font when one is
    // to blame) and the dialog shows the sound as it was.
    bool apply(const device::SoundSettings& s, const QString& font = {});
    void showSound();
    void enableButtons();

    SoundChoice& choice_;
    QListWidget* fonts_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    QPushButton* defaults_ = nullptr;
    QGroupBox* reverb_ = nullptr;
    QGroupBox* chorus_ = nullptr;
    QSlider* room_ = nullptr;
    QSlider* reverbLevel_ = nullptr;
    QSlider* chorusLevel_ = nullptr;
    bool showing_ = false;  // the controls follow the sound, not the other way
};

// Shows the dialog modally over the main window.
void showSoundDialog(SoundChoice& choice, QWidget* owner);

}  // namespace lirno
