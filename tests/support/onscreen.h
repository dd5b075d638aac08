#pragma once

#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

// What a widget shows on screen now (its window's backing store, as last painted).
inline QImage shownOnScreen(const QWidget* widget) {
    const QWidget* top = widget->window();
    const QPoint at = widget->mapTo(top, QPoint(0, 0));
    return top->screen()
        ->grabWindow(top->winId(), at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// What the widget draws when painted afresh.
inline QImage drawnAfresh(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}
