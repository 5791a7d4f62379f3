#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace zvrd::test {

// With a large font, every visible button of `window` still has room for its caption, lies
// inside the window and overlaps no other: what a placed-by-pixels form fails. Returns the
// buttons that do not, empty when all fit.
inline QStringList clippedButtons(QWidget& window, int pixelSize) {
    QFont big = window.font();
    big.setPixelSize(pixelSize);
    window.setFont(big);
    window.show();
    window.resize(window.size().expandedTo(window.minimumSizeHint()));
    QApplication::processEvents();
    QStringList clipped;
    const QList<QAbstractButton*> buttons = window.findChildren<QAbstractButton*>();
    QList<QRect> placed;
    for (QAbstractButton* b : buttons) {
        if (!b->isVisibleTo(&window) || b->text().isEmpty())
            continue;
        const QRect at(b->mapTo(&window, QPoint(0, 0)), b->size());
        bool overlaps = false;
        for (const QRect& other : placed)
            overlaps = overlaps || other.intersects(at);
        placed.push_back(at);
        if (b->width() < b->sizeHint().width() || b->height() < b->sizeHint().height() ||
            !window.rect().contains(at) || overlaps)
            clipped << b->text();
    }
    return clipped;
}

} // namespace zvrd::test
