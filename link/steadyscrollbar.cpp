#include "link/steadyscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

SteadyScrollBar::SteadyScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
    setAutoFillBackground(true);
}

SteadyScrollBar::Look SteadyScrollBar::look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    // The arrows are drawn disabled at either end, so both ends are part of the look.
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void SteadyScrollBar::sliderChange(SliderChange change) {
    lastChange_ = change;
    if (isSliderDown()) { // being dragged: follow the mouse at once
        repaintFor(change);
        return;
    }
    if (lookPending_)
        return;
    // A queued call runs before the window's low-priority paint request.
    lookPending_ = true;
    QMetaObject::invokeMethod(this, &SteadyScrollBar::lookAgain, Qt::QueuedConnection);
}

void SteadyScrollBar::lookAgain() {
    lookPending_ = false;
    if (look() != requested_)
        repaintFor(lastChange_);
}

void SteadyScrollBar::repaintFor(SliderChange change) {
    requested_ = look();
    QScrollBar::sliderChange(change);
}
