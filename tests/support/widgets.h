// Real input on widgets, as a user gives it.
#pragma once

#include <QTest>
#include <QWidget>

namespace lirno::test {

inline void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

}  // namespace lirno::test
