#pragma once

#include <QRect>
#include <QScrollBar>

// A scroll bar that repaints only when what it shows changes. A box at its line limit
// that takes new lines changes the bar's range and then its value on every insertion,
// while the slider ends where it was, at its smallest and at the bottom; a styled bar
// repainted for each such change costs as much as the text it scrolls. Changes are
// looked at once the insertion is over, before the window paints, against what the bar
// last asked to show; any other repaint (an expose, a resize) shows the bar as it is.
//
// The bar fills its own background, so that its repaint does not repaint the windows
// beneath it (the box's frame, the window, the window's frame) over the same strip.
class SteadyScrollBar : public QScrollBar {
  public:
    SteadyScrollBar(Qt::Orientation orientation, QWidget* parent);

  protected:
    void sliderChange(SliderChange change) override;

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
    bool lookPending_ = false;
    SliderChange lastChange_ = SliderValueChange;
};
