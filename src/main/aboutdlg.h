// The about box (998) and the record notice (999), built from their
// templates. OK, Enter, Escape and the close box all end them.
#pragma once

#include <QDialog>

namespace lirno::res {
struct DialogTemplate;
struct DialogControl;
}  // namespace lirno::res

namespace lirno {

class AboutDlgProc : public QDialog {
    Q_OBJECT
  public:
    AboutDlgProc(int dialogId, QWidget* owner);
    // The dialog from a template of its own (the record notice's texts).
    AboutDlgProc(const res::DialogTemplate& t, QWidget* owner);

    // Escape and the close box end the dialog like OK.
    void reject() override { done(1); }

  private:
    void measureFont();
    void createControls(const res::DialogTemplate& t);
    void createControl(const res::DialogControl& c);
    QRect toPixels(int x, int y, int cx, int cy) const;

    int baseX_ = 0;  // the font's average character width
    int baseY_ = 0;  // the font's height
};

}  // namespace lirno
