#include "link/steadyscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

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
    if (!everPainted_ || isSliderDown()) {
        QScrollBar::sliderChange(change);
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
    if (look() != painted_)
        QScrollBar::sliderChange(lastChange_);
}

void SteadyScrollBar::paintEvent(QPaintEvent* event) {
    painted_ = look();
    everPainted_ = true;
    QScrollBar::paintEvent(event);
}
