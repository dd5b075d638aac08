#include "ui/steadyscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimerEvent>

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
    const Look now = look();
    if (now == requested_)
        return;
    const bool creeping = now.atMaximum && requested_.atMaximum && !isSliderDown() &&
                          sincePaint_.isValid() && sincePaint_.elapsed() < kCreepMs;
    if (creeping) {
        if (!creep_.isActive())
            creep_.start(int(kCreepMs - sincePaint_.elapsed()), this);
        return;
    }
    repaintFor(lastChange_);
}

void SteadyScrollBar::timerEvent(QTimerEvent* event) {
    if (event->timerId() != creep_.timerId()) {
        QScrollBar::timerEvent(event);
        return;
    }
    creep_.stop();
    lookAgain();
}

void SteadyScrollBar::repaintFor(SliderChange change) {
    creep_.stop();
    sincePaint_.start();
    requested_ = look();
    QScrollBar::sliderChange(change);
}
