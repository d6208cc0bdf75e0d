// The resources in Qt's terms: texts, icons, the toolbar's pictures and the
// shared small font.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace lirno {

// Makes the compiled-in pictures available; call once before loading any.
void initResources();

// String table entry id, as a QString (empty for an unknown id).
QString loadString(int id);
// Icon resource 400, 401 or "DLG_ICON": the 32 x 32 picture.
QPixmap loadIconPixmap(int id);
QPixmap loadIconPixmap(const char* name);
// The window's icon: the large picture, and the small one at 16 x 16.
QIcon windowIcon();
// Picture `index` (0..10) of the toolbar strip, on a transparent 16 x 16
// square: the strip's light-grey background becomes the button's face.
QPixmap toolbarImage(int index);

// The small font shared by the readout, the time scale and the rows.
const QFont& hfont();

}  // namespace lirno
