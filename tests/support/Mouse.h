#pragma once

#include <QAbstractItemView>
#include <QTest>

// A double click as the platform delivers it: a click, then a press that comes as a double click,
// then the release.
inline void doubleClick(QAbstractItemView& view, QPoint at)
{
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// A double click on the middle of a row's cell.
inline void doubleClickRow(QAbstractItemView& view, int row, int column = 1)
{
    doubleClick(view, view.visualRect(view.model()->index(row, column)).center());
}
