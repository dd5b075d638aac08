#pragma once

#include <QPlainTextEdit>
#include <optional>

// The receive window's text box. A frame of received text goes in at its end while as
// many lines leave its front; when the box follows the end, the rows above the line
// being filled only move up on screen, so a frame repaints the rows that changed
// instead of the whole box.
class ReceiveBox : public QPlainTextEdit {
  public:
    explicit ReceiveBox(QWidget* parent);

    // Removes the first dropLines lines, appends text at the end and, when follow is
    // set, moves the caret to the end with the last line at the bottom of the box.
    void appendFrame(int dropLines, const QString& text, bool follow);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // Top of block on the viewport, when it lies between the top and the bottom row.
    std::optional<qreal> topOnScreen(const QTextBlock& block) const;
    void repaintFrame(std::optional<qreal> before, std::optional<qreal> after);

    bool countingScroll_ = false;
    int scrolled_ = 0; // what the box itself scrolled the viewport during a frame
};
