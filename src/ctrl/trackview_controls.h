// The row controls' geometry and the few controls that behave differently
// from their Qt base classes, plus the column header.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QSlider>
#include <QString>

#include <array>
#include <string>
#include <string_view>

namespace lirno {

// Columns of a row, left to right; a control's id is 100 x column + row.
enum Column : int { kColOn = 0, kColSolo, kColName, kColInstr, kColVol, kColBal, kColumnCount };

// Where a column's control sits in row r: (x, 21 r + dy), width x height.
struct ColumnGeometry {
    int x;
    int dy;
    int width;
    int height;
};
inline constexpr std::array<ColumnGeometry, kColumnCount> kColumns = {{
    {3, 2, 17, 17},     // On
    {20, 3, 17, 17},    // Solo
    {39, 1, 130, 20},   // track name
    {171, 1, 130, 20},  // instrument
    {302, 0, 127, 20},  // volume
    {430, 0, 127, 20},  // balance
}};

constexpr int controlId(int column, int r) {
    return 100 * column + r;
}

// The raised frame around the header and the view.
inline constexpr int kFrameWidth = 2;
inline constexpr int kHeaderHeight = 20;

// The column header's text: the titles at their places in one line.
inline constexpr std::string_view kHeaderText =
    "On  Solo          Track Name                         Instrument"
    "                                Volume                              Balance";

// The platform's sans-serif at the small size every text of the list uses.
QFont trackViewFont();

// A track name as the name box shows it (UTF-8 when valid, else Latin-1),
// and a typed name back as bytes, cut to the typing limit on a whole character.
QString nameToText(std::string_view bytes);
std::string textToName(const QString& text);

// The Solo button: a radio button that never changes its own mark; the
// view's handler alone sets it.
class SoloButton : public QRadioButton {
  public:
    using QRadioButton::QRadioButton;

  protected:
    void nextCheckState() override {}
};

// The name box: typing stops at 255 characters, but a longer stored name is
// shown whole. Like the native limit, the box never grows past the larger of
// the limit and what it holds.
class NameBox : public QLineEdit {
  public:
    NameBox(const QString& text, QWidget* parent);

  private:
    void shrinkLimit();
};

// A volume or balance slider that says when a gesture ends: the mouse button
// or a moving key is let go. Only then is its position applied.
class RowSlider : public QSlider {
    Q_OBJECT
  public:
    explicit RowSlider(QWidget* parent);

  signals:
    void gestureEnded();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    bool pressed_ = false;
};

// The column header: holds kHeaderText and draws each title over its column,
// so the titles line up with the rows whatever the font's widths.
class TrackHeader : public QLabel {
  public:
    explicit TrackHeader(QWidget* parent);
    // The widget whose origin is the rows' column origin (the view's client).
    void setColumnOrigin(QWidget* origin) { origin_ = origin; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int columnLeft(int column) const;

    QPointer<QWidget> origin_;
};

}  // namespace lirno
