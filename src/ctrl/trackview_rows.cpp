// The track view's rows: building them from the loaded file, and passing what
// the user does on them to the row record, which the widgets then mirror.
#include <QCheckBox>
#include <QComboBox>
#include <QStringListModel>

#include "ctrl/trackview.h"
#include "ctrl/trackview_controls.h"

namespace lirno {

QWidget* RowControls::byId(int id) const {
    const int column = id / 100;
    const auto r = static_cast<std::size_t>(id % 100);
    if (id < 0) return nullptr;
    switch (column) {
        case kColOn:
            return hwndOn[r];
        case kColSolo:
            return hwndOnly[r];
        case kColName:
            return hwndName[r];
        case kColInstr:
            return hwndInstr[r];
        case kColVol:
            return hwndVol[r];
        case kColBal:
            return hwndBal[r];
        default:
            return nullptr;
    }
}

int TrackViewWndProc::fillRows() {
    hide();
    destroyRows();
    activity_.forget();
    levels_.clear();
    rows_.fill();
    const int n = rows_.count();
    for (int r = 0; r < n; ++r) makeRow(r);
    layoutClient();
    scroll_.fill(n, client_->height());
    updateScrollBar();
    // Counted before the view shows: showing it delivers its pending resize,
    // which sizes the scroll range by the rows that exist.
    items_ = n;
    show();
    header_->show();
    return 1;
}

void TrackViewWndProc::destroyRows() {
    for (int r = 0; r < items_; ++r) destroyRow(r);
    controls_ = RowControls{};
    items_ = 0;
}

void TrackViewWndProc::destroyRow(int r) {
    const auto i = static_cast<std::size_t>(r);
    for (int c = 0; c < kColumnCount; ++c) delete controls_.byId(controlId(c, r));
    controls_.hwndOn[i] = nullptr;
    controls_.hwndOnly[i] = nullptr;
    controls_.hwndName[i] = nullptr;
    controls_.hwndInstr[i] = nullptr;
    controls_.hwndVol[i] = nullptr;
    controls_.hwndBal[i] = nullptr;
}

void TrackViewWndProc::addRow() {
    rows_.addRow();
    const int r = items_;
    if (r >= rows_.count()) return;
    makeRow(r);
    // Placed where the list's scrolling puts it, and shown: the view may be showing.
    for (int c = 0; c < kColumnCount; ++c) {
        QWidget* control = controls_.byId(controlId(c, r));
        control->move(control->x(), control->y() - scroll_.nScrollPos * kRowPitch);
        control->setVisible(true);
    }
    items_ = r + 1;
    rowsChanged();
}

void TrackViewWndProc::dropRow() {
    rows_.dropRow();
    if (items_ == 0) return;
    destroyRow(--items_);
    rowsChanged();
}

void TrackViewWndProc::lastRowFilled() {
    rows_.lastTrackFilled();
    rowsChanged();
}

// The scroll range takes in the rows there are now, the controls mirror the
// rows, and the lights read the song's notes again.
void TrackViewWndProc::rowsChanged() {
    scroll_.nRange = std::max(TrackScroll::rangeFor(items_, scroll_.visibleRows()),
                              std::min(scroll_.nRange, scroll_.nScrollPos));
    updateScrollBar();
    mirrorRows();
    activity_.forget();
    levels_.clear();
}

QWidget* TrackViewWndProc::adopt(QWidget* control, int column, int r, const QString& what) {
    const ColumnGeometry& g = kColumns[static_cast<std::size_t>(column)];
    const int id = controlId(column, r);
    control->setGeometry(g.x, kRowPitch * r + g.dy, g.width, g.height);
    control->setObjectName(QString::number(id));
    control->setProperty("controlId", id);
    control->setAccessibleName(what + u' ' + QString::number(r + 1));
    control->installEventFilter(this);
    return control;
}

void TrackViewWndProc::makeRow(int r) {
    const auto i = static_cast<std::size_t>(r);
    const TrackRow& row = rows_.row(r);

    auto* on = new QCheckBox(client_);
    on->setChecked(row.onChecked);
    controls_.hwndOn[i] = on;
    adopt(on, kColOn, r, QStringLiteral("On"));
    connect(on, &QCheckBox::clicked, this,
            [this, r] { onCommand(controlId(kColOn, r), Notice::Clicked); });

    auto* solo = new SoloButton(client_);
    solo->setAutoExclusive(false);
    solo->setChecked(row.soloChecked);
    controls_.hwndOnly[i] = solo;
    adopt(solo, kColSolo, r, QStringLiteral("Solo"));
    connect(solo, &QRadioButton::clicked, this,
            [this, r] { onCommand(controlId(kColSolo, r), Notice::Clicked); });

    auto* name = new NameBox(nameToText(row.name), client_);
    controls_.hwndName[i] = name;
    adopt(name, kColName, r, QStringLiteral("Track name"));
    connect(name, &QLineEdit::textEdited, this,
            [this, r] { onCommand(controlId(kColName, r), Notice::Edited); });

    makeInstrumentList(r);
    makeSlider(kColVol, r, row.vol);
    makeSlider(kColBal, r, row.bal);
}

void TrackViewWndProc::makeInstrumentList(int r) {
    const TrackRow& row = rows_.row(r);
    auto* list = new QComboBox(client_);
    if (row.instrSpecial) {
        list->addItem(QString::fromLatin1(row.instrEntry.data(),
                                          static_cast<qsizetype>(row.instrEntry.size())));
        list->setCurrentIndex(0);
        list->setEnabled(false);
    } else {
        list->setModel(programNames_);
        list->setCurrentIndex(row.instrSel);
    }
    list->setMaxVisibleItems(13);
    controls_.hwndInstr[static_cast<std::size_t>(r)] = list;
    adopt(list, kColInstr, r, QStringLiteral("Instrument"));
    // Only the user's choices count, never a selection set from here.
    connect(list, &QComboBox::activated, this,
            [this, r] { onCommand(controlId(kColInstr, r), Notice::SelChange); });
}

void TrackViewWndProc::makeSlider(int column, int r, int value) {
    auto* slider = new RowSlider(client_);
    slider->setValue(value);
    const bool volume = column == kColVol;
    (volume ? controls_.hwndVol : controls_.hwndBal)[static_cast<std::size_t>(r)] = slider;
    adopt(slider, column, r, volume ? QStringLiteral("Volume") : QStringLiteral("Balance"));
    connect(slider, &RowSlider::gestureEnded, this, [this, slider] { onSliderEnd(slider); });
}

void TrackViewWndProc::onCommand(int id, Notice code) {
    const int column = id / 100;
    const int r = id % 100;
    if (r >= items_ || r >= rows_.count()) return;
    const auto i = static_cast<std::size_t>(r);
    switch (column) {
        case kColOn:
            rows_.clickOn(r);
            break;
        case kColSolo:
            rows_.clickSolo(r);
            break;
        case kColName:
            // A typed name changes nothing until the file is saved.
            if (code == Notice::Edited)
                rows_.typeName(r, textToName(controls_.hwndName[i]->text()));
            return;
        case kColInstr:
            if (code != Notice::SelChange || rows_.row(r).instrSpecial) return;
            rows_.selectInstrument(r, controls_.hwndInstr[i]->currentIndex());
            break;
        default:
            return;
    }
    mirrorRows();
}

void TrackViewWndProc::onSliderEnd(QSlider* slider) {
    for (int r = 0; r < items_; ++r) {
        if (controls_.hwndVol[static_cast<std::size_t>(r)] == slider)
            return rows_.endVolume(r, slider->value());
    }
    for (int r = 0; r < items_; ++r) {
        if (controls_.hwndBal[static_cast<std::size_t>(r)] == slider)
            return rows_.endBalance(r, slider->value());
    }
}

void TrackViewWndProc::mirrorRows() {
    const int n = std::min(items_, rows_.count());
    for (int r = 0; r < n; ++r) {
        const auto i = static_cast<std::size_t>(r);
        const TrackRow& row = rows_.row(r);
        controls_.hwndOn[i]->setChecked(row.onChecked);
        controls_.hwndOn[i]->setEnabled(row.onEnabled);
        controls_.hwndOnly[i]->setChecked(row.soloChecked);
        controls_.hwndName[i]->setEnabled(row.nameEnabled);
        controls_.hwndInstr[i]->setEnabled(row.instrEnabled);
        controls_.hwndVol[i]->setEnabled(row.volEnabled);
        controls_.hwndBal[i]->setEnabled(row.balEnabled);
    }
}

}  // namespace lirno
