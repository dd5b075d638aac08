#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QRect>
#include <QScrollBar>

// A scroll bar that repaints only when what it shows changes. A box at its line limit
// that takes new lines changes the bar's range and then its value on every insertion,
// while the slider ends where it was, at its smallest and at the bottom; a styled bar
// repainted for each such change costs as much as the text it scrolls. Changes are
// looked at once the insertion is over, before the window paints, against what the bar
// last asked to show; any other repaint (an expose, a resize) shows the bar as it is.
//
// While the slider stays at the end and only the range grows (a stream filling the box),
// the slider creeps a pixel at a time: it is repainted a few times a second, not on
// every frame. A styled bar's repaint (gradients over its whole height) costs more than
// the frame's text.
//
// The bar fills its own background, so that its repaint does not repaint the windows
// beneath it (the box's frame, the window, the window's frame) over the same strip.
class SteadyScrollBar : public QScrollBar {
  public:
    SteadyScrollBar(Qt::Orientation orientation, QWidget* parent);

    static constexpr int kCreepMs = 250;

  protected:
    void sliderChange(SliderChange change) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    void lookAgain();
    void repaintFor(SliderChange change);
    Look requested_;
    QElapsedTimer sincePaint_;
    QBasicTimer creep_;
    bool lookPending_ = false;
    SliderChange lastChange_ = SliderValueChange;
};
