#include "link/receivebox.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cmath>

ReceiveBox::ReceiveBox(QWidget* parent) : QPlainTextEdit(parent) {
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect&, int dy) {
        if (countingScroll_)
            scrolled_ += dy;
    });
}

void ReceiveBox::appendFrame(int dropLines, const QString& text, bool follow) {
    QTextDocument* doc = document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    // The line being filled: everything above it stays as it is drawn, only higher up.
    // So does a caret the user placed above it, which moving it to the end would leave
    // drawn there: such a frame repaints the whole box.
    int filling = doc->blockCount() - 1;
    const std::optional<qreal> before =
        follow && textCursor().atEnd() ? topOnScreen(doc->lastBlock()) : std::optional<qreal>();

    // The layout would ask for a repaint of the whole box after the cut and again after
    // the insertion, and for a new scroll range after each: both are done once, below.
    // Inside an edit block the cursor is placed without laying out lines; cut and
    // insertion are two edits, so each re-lays out only the lines it touched.
    const bool wasBlocked = layout->blockSignals(true);
    QTextCursor cursor(doc);
    if (dropLines > 0 && doc->blockCount() > dropLines) {
        cursor.beginEditBlock();
        cursor.setPosition(doc->findBlockByNumber(dropLines).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
        filling -= dropLines;
    }
    cursor.beginEditBlock();
    cursor.setPosition(doc->characterCount() - 1);
    cursor.insertText(text);
    cursor.endEditBlock();
    layout->blockSignals(wasBlocked);

    countingScroll_ = true;
    scrolled_ = 0;
    emit layout->documentSizeChanged(layout->documentSize());
    if (follow) {
        // A caret at the end moved along with the insertion; one placed elsewhere is moved
        // there. The bar's maximum puts the last line, and so the caret, at the bottom.
        if (!textCursor().atEnd())
            moveCursor(QTextCursor::End);
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    countingScroll_ = false;
    repaintFrame(before,
                 before ? topOnScreen(doc->findBlockByNumber(filling)) : std::optional<qreal>());
}

void ReceiveBox::keyPressEvent(QKeyEvent* event) {
    // A caret the insertions carried to the end still holds the column Up and Down go to
    // from where it was last placed: it is placed at the end again first.
    const QTextCursor caret = textCursor();
    if (caret.atEnd() && !caret.hasSelection())
        moveCursor(QTextCursor::End);
    QPlainTextEdit::keyPressEvent(event);
}

std::optional<qreal> ReceiveBox::topOnScreen(const QTextBlock& block) const {
    if (!isVisible() || block.blockNumber() < firstVisibleBlock().blockNumber())
        return std::nullopt;
    const qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    if (top <= 0 || top >= viewport()->height())
        return std::nullopt;
    return top;
}

void ReceiveBox::repaintFrame(std::optional<qreal> before, std::optional<qreal> after) {
    // The rows above the line that was being filled hold what they held, moved by as
    // much as that line moved; the box has scrolled its pixels by part of it already.
    if (before && after) {
        const qreal move = *after - *before - scrolled_;
        const qreal whole = std::round(move);
        if (std::abs(move - whole) < 1e-6) {
            if (whole != 0)
                viewport()->scroll(0, int(whole));
            const int from = int(std::floor(*after));
            viewport()->update(0, from, viewport()->width(), viewport()->height() - from);
            return;
        }
    }
    viewport()->update();
}
