#include "ui/receivebox.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QScrollBar>
#include <QSizeF>
#include <QStyleHints>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTimerEvent>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {
constexpr int kMargin = 4;     // between the box's edge and its text
constexpr qreal kTabStop = 80; // pixels between tab stops, as in a plain text box

// The document's layout: the box wraps and paints rows itself, so all the layout does is
// tell the box which part of the text changed (a document tells that only to a layout).
class ChangeReporter : public QAbstractTextDocumentLayout {
  public:
    ChangeReporter(QTextDocument* doc, std::function<void(int, int, int)> changed)
        : QAbstractTextDocumentLayout(doc), changed_(std::move(changed)) {}
    void draw(QPainter*, const PaintContext&) override {}
    int hitTest(const QPointF&, Qt::HitTestAccuracy) const override { return -1; }
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return {}; }
    QRectF frameBoundingRect(QTextFrame*) const override { return {}; }
    QRectF blockBoundingRect(const QTextBlock&) const override { return {}; }

  protected:
    void documentChanged(int from, int removed, int added) override {
        changed_(from, removed, added);
    }

  private:
    std::function<void(int, int, int)> changed_;
};

// The text between two positions, line breaks as in toPlainText.
QString plainBetween(QTextDocument* doc, int from, int to) {
    if (from >= to)
        return {};
    QTextCursor cursor(doc);
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    return cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

void installAccessibleFactory();
} // namespace

ReceiveBox::ReceiveBox(QWidget* parent)
    : QAbstractScrollArea(parent), doc_(new QTextDocument(this)) {
    installAccessibleFactory();
    doc_->setUndoRedoEnabled(false);
    cursor_ = QTextCursor(doc_);
    rows_.push_back(1);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    doc_->setDocumentLayout(new ChangeReporter(
        doc_, [this](int from, int removed, int added) { contentsChanged(from, removed, added); }));
    measureFont();
}

void ReceiveBox::measureFont() {
    const QFontMetrics metrics = fontMetrics();
    rowHeight_ = std::max(1, metrics.height());
    ascent_ = metrics.ascent();
}

ReceiveBox::~ReceiveBox() = default;

QString ReceiveBox::toPlainText() const {
    return doc_->toPlainText();
}

void ReceiveBox::setPlainText(const QString& text) {
    doc_->setPlainText(text);
    cursor_ = QTextCursor(doc_);
    relayoutAll();
    verticalScrollBar()->setValue(0);
    caretMoved();
}

void ReceiveBox::clear() {
    setPlainText(QString());
}

void ReceiveBox::insertPlainText(const QString& text) {
    cursor_.insertText(text);
    caretMoved();
}

void ReceiveBox::moveCursor(QTextCursor::MoveOperation operation, QTextCursor::MoveMode mode) {
    cursor_.movePosition(operation, mode);
    caretMoved();
}

void ReceiveBox::setMaximumBlockCount(int count) {
    doc_->setMaximumBlockCount(count);
}

void ReceiveBox::copy() {
    if (cursor_.hasSelection())
        QGuiApplication::clipboard()->setText(cursor_.selection().toPlainText());
}

void ReceiveBox::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        insertPlainText(text);
}

void ReceiveBox::selectAll() {
    cursor_.select(QTextCursor::Document);
    caretMoved();
}

void ReceiveBox::appendFrame(int dropLines, const QString& text, bool follow) {
    QScrollBar* bar = verticalScrollBar();
    const int h = rowHeight();
    // While the box follows the end, everything above the line being filled only moves up:
    // those rows are moved on screen and the rest is drawn. A caret the user placed above
    // the end, or a box scrolled away from it, is drawn afresh.
    const bool following =
        follow && cursor_.atEnd() && bar->value() == bar->maximum() && isVisible();
    const int fillingRow = totalRows_ - rows_.back();
    const int yBefore = kMargin + (fillingRow - bar->value()) * h;
    int top = bar->value();
    int cutRows = 0;
    inFrame_ = true;
    if (dropLines > 0 && doc_->blockCount() > dropLines) {
        const int before = totalRows_;
        // Cursors moved inside an edit block skip laying out the line they land on.
        QTextCursor cut(doc_);
        cut.beginEditBlock();
        cut.setPosition(doc_->findBlockByNumber(dropLines).position(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        cut.endEditBlock();
        // The rows of the cut lines (the first row left was not cut, so it was not wrapped anew).
        cutRows = before - totalRows_;
        top -= cutRows; // what was in view stays in view
    }
    QTextCursor end(doc_);
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    end.endEditBlock();
    updateScrollRange();
    if (follow) {
        if (!cursor_.atEnd() || cursor_.hasSelection()) {
            cursor_.beginEditBlock();
            cursor_.movePosition(QTextCursor::End);
            cursor_.endEditBlock();
        }
        wantedX_ = -1;
        bar->setValue(bar->maximum());
        // An input method is told where the caret went a few times a second, not on
        // every frame of a stream.
        if (hasFocus() && !microFocus_.isActive())
            microFocus_.start(kMicroFocusMs, this);
    } else {
        bar->setValue(std::max(0, top));
    }
    inFrame_ = false;
    noticeLater(); // assistive technology hears of the frame with the next notice
    const int yAfter = kMargin + (fillingRow - cutRows - bar->value()) * h;
    const int height = viewport()->height();
    if (following && yBefore >= kMargin && yBefore < height && yAfter >= kMargin &&
        yAfter <= yBefore) {
        // Only the rows below the top margin move, so the margin stays blank and what is
        // drawn afresh is one rectangle (a one-rectangle clip keeps blits and fills fast).
        if (yAfter != yBefore)
            viewport()->scroll(0, yAfter - yBefore,
                               QRect(0, kMargin, viewport()->width(), yBefore - kMargin));
        viewport()->update(0, yAfter, viewport()->width(), height - yAfter);
    } else {
        viewport()->update();
    }
}

int ReceiveBox::rowsOnScreen() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) / rowHeight());
}

// ---- glyphs and rows

const ReceiveBox::Glyph& ReceiveBox::glyph(QChar c) const {
    // Hex pairs and most received text are Latin-1: those are looked up in a table.
    const char16_t u = c.unicode();
    if (u < latin1_.size() && latin1_[u].font != kUnknown)
        return latin1_[u];
    if (u >= latin1_.size())
        if (const auto found = glyphs_.constFind(u); found != glyphs_.cend())
            return *found;
    // The glyph and font a text layout would use for the character, fallback font included.
    Glyph g;
    g.font = -1;
    QTextLayout layout(QString(c), font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (!runs.isEmpty() && !runs.first().glyphIndexes().isEmpty()) {
        const QGlyphRun& run = runs.first();
        const QRawFont raw = run.rawFont();
        g.index = run.glyphIndexes().first();
        g.advance = raw.advancesForGlyphIndexes({g.index}).value(0).x();
        qsizetype at = fonts_.indexOf(raw);
        if (at < 0) {
            fonts_.append(raw);
            at = fonts_.size() - 1;
        }
        g.font = int(at);
    } else {
        g.advance = layout.lineAt(0).naturalTextWidth();
    }
    if (u < latin1_.size())
        return latin1_[u] = g;
    return *glyphs_.insert(u, g);
}

qreal ReceiveBox::advanceAt(QChar c, qreal x) const {
    if (c == QLatin1Char('\t'))
        return (std::floor(x / kTabStop) + 1) * kTabStop - x;
    return glyph(c).advance;
}

int ReceiveBox::wrapWidth() const {
    return std::max(1, viewport()->width() - 2 * kMargin);
}

int ReceiveBox::rowHeight() const {
    return rowHeight_;
}

int ReceiveBox::wrap(const QString& text, QList<Row>* rows) const {
    // Rows break after the last space that fits, or where the row is full when a word is
    // wider than the box; spaces at a row's end hang past its edge.
    int count = 0;
    const qreal width = wrapWidth();
    int start = 0;
    int afterSpace = -1;
    qreal x = 0;
    for (int i = 0; i < int(text.size()); ++i) {
        const QChar c = text.at(i);
        qreal a = advanceAt(c, x);
        if (x + a > width && i > start && !c.isSpace() && !c.isLowSurrogate()) {
            const int end = afterSpace > start ? afterSpace : i; // i is no low surrogate
            if (rows)
                rows->append({start, end});
            ++count;
            start = end;
            x = 0;
            for (int j = start; j < i; ++j)
                x += advanceAt(text.at(j), x);
            afterSpace = -1;
            a = advanceAt(c, x);
        }
        x += a;
        if (c.isSpace())
            afterSpace = i + 1;
    }
    if (rows)
        rows->append({start, int(text.size())});
    return count + 1;
}

QList<ReceiveBox::Row> ReceiveBox::wrap(const QString& text) const {
    QList<Row> rows;
    wrap(text, &rows);
    return rows;
}

void ReceiveBox::relayoutAll() {
    rows_.clear();
    totalRows_ = 0;
    for (QTextBlock b = doc_->begin(); b.isValid(); b = b.next()) {
        rows_.push_back(wrap(b.text(), nullptr));
        totalRows_ += rows_.back();
    }
    laidOutWidth_ = wrapWidth();
    updateScrollRange();
}

void ReceiveBox::contentsChanged(int from, int removed, int added) {
    noteChange(from, removed, added);
    // Only the blocks the change touched are wrapped again.
    const int count = doc_->blockCount();
    const QTextBlock first = doc_->findBlock(from);
    QTextBlock last = doc_->findBlock(from + added);
    if (!last.isValid())
        last = doc_->lastBlock();
    const int b0 = first.blockNumber();
    const int now = last.blockNumber() - b0 + 1;
    const int was = now - (count - int(rows_.size())); // rows_ has a row count per old block
    if (!first.isValid() || b0 < 0 || was < 0 || b0 + was > int(rows_.size())) {
        relayoutAll();
        return;
    }
    for (int i = 0; i < was; ++i)
        totalRows_ -= rows_[b0 + i];
    rows_.erase(rows_.begin() + b0, rows_.begin() + b0 + was);
    QVarLengthArray<int, 64> fresh;
    for (QTextBlock b = first;; b = b.next()) {
        fresh.push_back(wrap(b.text(), nullptr));
        totalRows_ += fresh.back();
        if (b == last)
            break;
    }
    rows_.insert(rows_.begin() + b0, fresh.begin(), fresh.end());
    if (int(rows_.size()) != count) {
        relayoutAll();
        return;
    }
    // A frame sets the range and repaints once it is over; any other edit does it here.
    if (!inFrame_) {
        updateScrollRange();
        viewport()->update();
    }
}

void ReceiveBox::updateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const int page = rowsOnScreen();
    bar->setRange(0, std::max(0, totalRows_ - page));
    bar->setPageStep(page);
    bar->setSingleStep(1);
}

std::pair<int, int> ReceiveBox::locate(int row) const {
    row = std::clamp(row, 0, std::max(0, totalRows_ - 1));
    if (row < totalRows_ / 2) {
        for (int b = 0; b < int(rows_.size()); ++b) {
            if (row < rows_[b])
                return {b, row};
            row -= rows_[b];
        }
        return {int(rows_.size()) - 1, 0};
    }
    int after = totalRows_ - row; // rows from this one to the end
    for (int b = int(rows_.size()) - 1; b >= 0; --b) {
        if (after <= rows_[b])
            return {b, rows_[b] - after};
        after -= rows_[b];
    }
    return {0, 0};
}

int ReceiveBox::firstRowOf(int blockNumber) const {
    int row = 0;
    for (int b = 0; b < blockNumber && b < int(rows_.size()); ++b)
        row += rows_[b];
    return row;
}

int ReceiveBox::rowOfPosition(int position, Row* row) const {
    const QTextBlock block = doc_->findBlock(position);
    const QList<Row> rows = wrap(block.text());
    const int column = position - block.position();
    int r = 0;
    while (r + 1 < int(rows.size()) && column >= rows[r + 1].from)
        ++r;
    if (row)
        *row = rows[r];
    return firstRowOf(block.blockNumber()) + r;
}

qreal ReceiveBox::xOf(const QString& text, const Row& row, int column) const {
    qreal x = 0;
    for (int i = row.from; i < column && i < int(text.size()); ++i)
        x += advanceAt(text.at(i), x);
    return kMargin + x;
}

QRect ReceiveBox::caretRectFor(int position) const {
    Row row;
    const int r = rowOfPosition(position, &row);
    const QTextBlock block = doc_->findBlock(position);
    const int x = int(xOf(block.text(), row, position - block.position()));
    const int y = kMargin + (r - verticalScrollBar()->value()) * rowHeight();
    return QRect(x, y, 1, rowHeight());
}

int ReceiveBox::positionAt(const QPoint& point) const {
    const int row =
        verticalScrollBar()->value() + int(std::floor(double(point.y() - kMargin) / rowHeight()));
    if (row < 0)
        return 0;
    if (row >= totalRows_)
        return doc_->characterCount() - 1;
    const auto [blockNumber, inBlock] = locate(row);
    const QTextBlock block = doc_->findBlockByNumber(blockNumber);
    const QString text = block.text();
    const QList<Row> rows = wrap(text);
    const Row r = rows.value(inBlock);
    qreal x = kMargin;
    for (int i = r.from; i < r.to; ++i) {
        const qreal a = advanceAt(text.at(i), x - kMargin);
        if (point.x() < x + a / 2)
            return snapped(block.position() + i);
        x += a;
    }
    // Past the end of a row that wrapped after a space the caret goes before that space;
    // a row broken inside a word ends where the next row begins.
    const bool wrapped = inBlock + 1 < int(rows.size());
    const bool afterSpace = wrapped && r.to > r.from && text.at(r.to - 1).isSpace();
    return snapped(block.position() + (afterSpace ? r.to - 1 : r.to));
}

int ReceiveBox::snapped(int position) const {
    // Never between the two halves of a character outside the basic plane.
    const QChar c = doc_->characterAt(position);
    return c.isLowSurrogate() && position > 0 ? position - 1 : position;
}

bool ReceiveBox::focusNextPrevChild(bool) {
    return false; // Tab is typed into the box, as in a plain text box
}

// ---- painting

void ReceiveBox::paintEvent(QPaintEvent* event) {
    if (laidOutWidth_ != wrapWidth())
        relayoutAll();
    QPainter painter(viewport());
    const int height = rowHeight();
    const QRect area = event->rect();
    const int first = verticalScrollBar()->value();
    auto [blockNumber, inBlock] = locate(first);
    QTextBlock block = doc_->findBlockByNumber(blockNumber);
    const int selectionFrom = cursor_.selectionStart();
    const int selectionTo = cursor_.selectionEnd();
    int top = kMargin;
    while (block.isValid() && top < viewport()->height()) {
        const QString text = block.text();
        const QList<Row> rows = wrap(text);
        for (int r = inBlock; r < int(rows.size()) && top < viewport()->height(); ++r) {
            if (top + height > area.top() && top <= area.bottom() &&
                event->region().intersects(QRect(0, top, viewport()->width(), height)))
                drawRow(painter, block, text, rows[r], top, selectionFrom, selectionTo);
            top += height;
        }
        inBlock = 0;
        block = block.next();
    }
    if (hasFocus() && caretOn_) {
        const QRect caret = caretRectFor(cursor_.position());
        painter.fillRect(caret, palette().text());
    }
}

void ReceiveBox::drawRow(QPainter& painter, const QTextBlock& block, const QString& text,
                         const Row& row, int top, int selectionFrom, int selectionTo) {
    const int at = block.position();
    // The selected part of the row, in block columns; a selection that goes on past the
    // block's end also marks the line break after its last row.
    int selFrom = std::clamp(selectionFrom - at, row.from, row.to);
    int selTo = std::clamp(selectionTo - at, row.from, row.to);
    const bool breakSelected = selectionFrom < selectionTo && row.to == int(text.size()) &&
                               selectionFrom <= at + row.to && selectionTo > at + row.to;
    if (selectionFrom >= selectionTo)
        selFrom = selTo = row.from;
    if (selFrom < selTo || breakSelected) {
        const qreal x0 = xOf(text, row, selFrom);
        qreal x1 = xOf(text, row, selTo);
        if (breakSelected)
            x1 += fontMetrics().horizontalAdvance(QLatin1Char(' '));
        painter.fillRect(QRectF(x0, top, x1 - x0, rowHeight()), palette().highlight());
    }
    // Glyphs in runs of one font and one colour, gathered in buffers the box keeps, so a
    // row allocates nothing. Spaces have no ink and are only advanced over.
    runIndexes_.clear();
    runPositions_.clear();
    int runFont = -1;
    bool runSelected = false;
    const auto flush = [&] {
        if (!runIndexes_.empty() && runFont >= 0) {
            QGlyphRun run;
            run.setRawFont(fonts_.at(runFont));
            run.setRawData(runIndexes_.data(), runPositions_.data(), int(runIndexes_.size()));
            painter.setPen(runSelected ? palette().highlightedText().color()
                                       : palette().text().color());
            painter.drawGlyphRun(QPointF(0, top + ascent_), run);
        }
        runIndexes_.clear();
        runPositions_.clear();
    };
    qreal x = 0;
    for (int i = row.from; i < row.to; ++i) {
        const QChar c = text.at(i);
        const Glyph& g = glyph(c);
        const qreal a = c == QLatin1Char('\t') ? advanceAt(c, x) : g.advance;
        const bool selected = i >= selFrom && i < selTo;
        if (g.font >= 0 && c != QLatin1Char(' ') && c != QLatin1Char('\t')) {
            if (g.font != runFont || selected != runSelected) {
                flush();
                runFont = g.font;
                runSelected = selected;
            }
            runIndexes_.push_back(g.index);
            runPositions_.emplace_back(kMargin + x, 0);
        }
        x += a;
    }
    flush();
}

void ReceiveBox::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    if (laidOutWidth_ != wrapWidth())
        relayoutAll();
    else
        updateScrollRange();
    if (atEnd)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void ReceiveBox::scrollContentsBy(int, int) {
    if (!inFrame_) // a frame repaints what it changed itself
        viewport()->update();
}

// ---- caret

void ReceiveBox::restartBlink() {
    caretOn_ = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash > 0)
        blink_.start(flash / 2, this);
    else
        blink_.stop();
}

void ReceiveBox::caretMoved(bool keepX) {
    if (!keepX)
        wantedX_ = -1;
    restartBlink();
    ensureVisible(cursor_.position());
    viewport()->update();
    updateMicroFocus();
    noticeLater();
}

void ReceiveBox::ensureVisible(int position) {
    QScrollBar* bar = verticalScrollBar();
    const int row = rowOfPosition(position);
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + rowsOnScreen())
        bar->setValue(row - rowsOnScreen() + 1);
}

void ReceiveBox::moveByRows(int rows, QTextCursor::MoveMode mode) {
    Row row;
    const int from = rowOfPosition(cursor_.position(), &row);
    const QTextBlock block = cursor_.block();
    if (wantedX_ < 0)
        wantedX_ = xOf(block.text(), row, cursor_.position() - block.position());
    const int target = from + rows;
    int position;
    if (target < 0)
        position = 0;
    else if (target >= totalRows_)
        position = doc_->characterCount() - 1;
    else {
        const int y = kMargin + (target - verticalScrollBar()->value()) * rowHeight();
        position = positionAt(QPoint(int(std::lround(wantedX_)), y));
    }
    cursor_.setPosition(position, mode);
    caretMoved(true);
}

void ReceiveBox::timerEvent(QTimerEvent* event) {
    if (event->timerId() == notice_.timerId()) {
        tellAssistiveTechnology();
        return;
    }
    if (event->timerId() == microFocus_.timerId()) {
        microFocus_.stop();
        if (hasFocus())
            updateMicroFocus();
        return;
    }
    if (event->timerId() != blink_.timerId())
        return QAbstractScrollArea::timerEvent(event);
    caretOn_ = !caretOn_;
    viewport()->update(caretRectFor(cursor_.position()));
}

void ReceiveBox::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
    viewport()->update();
}

void ReceiveBox::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    blink_.stop();
    viewport()->update();
}

void ReceiveBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        measureFont();
        glyphs_.clear();
        latin1_.fill(Glyph{});
        fonts_.clear();
        relayoutAll();
    }
    QAbstractScrollArea::changeEvent(event);
}

// ---- keys and input method

bool ReceiveBox::event(QEvent* event) {
    // The box's own editing keys are not taken away by window shortcuts.
    // Typing, moving the caret and the editing keys go to the box, not to a window's
    // shortcut (the main window has Ctrl+C and Ctrl+A of its own).
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        bool ours = false;
        if (mods == Qt::NoModifier || mods == Qt::ShiftModifier) {
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Delete:
            case Qt::Key_Home:
            case Qt::Key_End:
            case Qt::Key_Backspace:
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Tab:
                ours = true;
                break;
            default:
                ours = key->key() < Qt::Key_Escape;
            }
        }
        using K = QKeySequence;
        for (K::StandardKey standard :
             {K::Copy, K::Paste, K::Cut, K::SelectAll, K::MoveToNextWord, K::MoveToPreviousWord,
              K::MoveToStartOfDocument, K::MoveToEndOfDocument, K::SelectNextWord,
              K::SelectPreviousWord, K::SelectStartOfLine, K::SelectEndOfLine,
              K::SelectStartOfBlock, K::SelectEndOfBlock, K::SelectStartOfDocument,
              K::SelectEndOfDocument})
            ours = ours || key == standard;
        if (ours) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void ReceiveBox::keyPressEvent(QKeyEvent* event) {
    using K = QKeySequence;
    const auto move = [&](QTextCursor::MoveOperation op, bool select) {
        cursor_.movePosition(op, select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
        caretMoved();
    };
    const auto rows = [&](int n, bool select) {
        moveByRows(n, select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    };
    const auto rowEdge = [&](bool end, bool select) {
        Row row;
        rowOfPosition(cursor_.position(), &row);
        const int at = cursor_.block().position();
        const QString text = cursor_.block().text();
        const bool wrapped = row.to < int(text.size());
        const bool afterSpace = wrapped && row.to > row.from && text.at(row.to - 1).isSpace();
        const int column = end ? (afterSpace ? row.to - 1 : row.to) : row.from;
        cursor_.setPosition(at + column,
                            select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
        caretMoved();
    };
    // Keys that move the caret by the document's own steps, and their selecting twins.
    struct CursorKey {
        K::StandardKey move;
        K::StandardKey select;
        QTextCursor::MoveOperation op;
    };
    static constexpr CursorKey kCursorKeys[] = {
        {K::MoveToNextChar, K::SelectNextChar, QTextCursor::NextCharacter},
        {K::MoveToPreviousChar, K::SelectPreviousChar, QTextCursor::PreviousCharacter},
        {K::MoveToNextWord, K::SelectNextWord, QTextCursor::NextWord},
        {K::MoveToPreviousWord, K::SelectPreviousWord, QTextCursor::PreviousWord},
        {K::MoveToStartOfDocument, K::SelectStartOfDocument, QTextCursor::Start},
        {K::MoveToEndOfDocument, K::SelectEndOfDocument, QTextCursor::End},
        {K::MoveToStartOfBlock, K::SelectStartOfBlock, QTextCursor::StartOfBlock},
        {K::MoveToEndOfBlock, K::SelectEndOfBlock, QTextCursor::EndOfBlock},
    };
    for (const CursorKey& key : kCursorKeys) {
        if (event == key.move || event == key.select) {
            move(key.op, event == key.select);
            event->accept();
            return;
        }
    }
    if (event == K::Copy)
        copy();
    else if (event == K::Cut) {
        copy();
        cursor_.removeSelectedText();
        caretMoved();
    } else if (event == K::Paste)
        paste();
    else if (event == K::SelectAll)
        selectAll();
    else if (event == K::MoveToNextLine || event == K::SelectNextLine)
        rows(1, event == K::SelectNextLine);
    else if (event == K::MoveToPreviousLine || event == K::SelectPreviousLine)
        rows(-1, event == K::SelectPreviousLine);
    else if (event == K::MoveToNextPage || event == K::SelectNextPage)
        rows(rowsOnScreen(), event == K::SelectNextPage);
    else if (event == K::MoveToPreviousPage || event == K::SelectPreviousPage)
        rows(-rowsOnScreen(), event == K::SelectPreviousPage);
    else if (event == K::MoveToStartOfLine || event == K::SelectStartOfLine)
        rowEdge(false, event == K::SelectStartOfLine);
    else if (event == K::MoveToEndOfLine || event == K::SelectEndOfLine)
        rowEdge(true, event == K::SelectEndOfLine);
    else if (event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier)) {
        if (!cursor_.hasSelection())
            cursor_.deletePreviousChar();
        else
            cursor_.removeSelectedText();
        caretMoved();
    } else if (event == K::Delete) {
        if (!cursor_.hasSelection())
            cursor_.deleteChar();
        else
            cursor_.removeSelectedText();
        caretMoved();
    } else if (event == K::InsertParagraphSeparator || event == K::InsertLineSeparator) {
        cursor_.insertBlock();
        caretMoved();
    } else if (const QString text = event->text();
               !text.isEmpty() && (text.at(0).isPrint() || text.at(0) == QLatin1Char('\t'))) {
        insertPlainText(text);
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

void ReceiveBox::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        if (event->replacementLength() > 0) {
            cursor_.setPosition(cursor_.position() + event->replacementStart());
            cursor_.setPosition(cursor_.position() + event->replacementLength(),
                                QTextCursor::KeepAnchor);
        }
        insertPlainText(event->commitString());
    }
    event->accept();
}

QVariant ReceiveBox::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return caretRectFor(cursor_.position()).translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return cursor_.positionInBlock();
    case Qt::ImAnchorPosition:
        return cursor_.anchor() - cursor_.block().position();
    case Qt::ImSurroundingText:
        return cursor_.block().text();
    case Qt::ImCurrentSelection:
        return cursor_.selectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- mouse

void ReceiveBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const int position = positionAt(event->position().toPoint());
    cursor_.setPosition(position, event->modifiers() & Qt::ShiftModifier ? QTextCursor::KeepAnchor
                                                                         : QTextCursor::MoveAnchor);
    selecting_ = true;
    caretMoved();
}

void ReceiveBox::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting_ || !(event->buttons() & Qt::LeftButton))
        return QAbstractScrollArea::mouseMoveEvent(event);
    cursor_.setPosition(positionAt(event->position().toPoint()), QTextCursor::KeepAnchor);
    caretMoved();
}

void ReceiveBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !selecting_)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    selecting_ = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (cursor_.hasSelection() && clipboard->supportsSelection())
        clipboard->setText(cursor_.selection().toPlainText(), QClipboard::Selection);
}

void ReceiveBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    cursor_.setPosition(positionAt(event->position().toPoint()));
    cursor_.select(QTextCursor::WordUnderCursor);
    caretMoved();
}

void ReceiveBox::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QStringLiteral("复制(&C)"), this, &ReceiveBox::copy);
    copyAction->setEnabled(cursor_.hasSelection());
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    QAction* pasteAction = menu.addAction(QStringLiteral("粘贴(&P)"), this, &ReceiveBox::paste);
    pasteAction->setEnabled(clip && clip->hasText());
    menu.addSeparator();
    menu.addAction(QStringLiteral("全选(&A)"), this, &ReceiveBox::selectAll)
        ->setEnabled(!doc_->isEmpty());
    menu.exec(event->globalPos());
}

// ---- assistive technology

void ReceiveBox::noteChange(int from, int removed, int added) {
    const int length = doc_->characterCount() - 1;
    const int before = std::exchange(length_, length);
    if (!untold_.any) {
        if (!QAccessible::isActive())
            return; // no one is listening: the change costs nothing more
        untold_ = {true, before, before, before, true, 0, 0};
    }
    // A document's report of a change may count its last paragraph separator on both sides.
    from = std::clamp(from, 0, std::min(before, length));
    removed = std::clamp(removed, 0, before - from);
    added = std::clamp(added, 0, length - from);
    if (before - removed + added != length) {
        removed = before - from;
        added = length - from;
    }
    untold_.same = std::min(untold_.same, from);
    untold_.sameEnd = std::min(untold_.sameEnd, std::max(0, before - from - removed));
    if (untold_.atEnds) {
        if (from == 0 && added == 0) {
            // A cut at the start takes what is left of the told text first, then what was
            // added since.
            const int ofTold = std::min(removed, untold_.told - untold_.cut);
            untold_.cut += ofTold;
            untold_.added -= removed - ofTold;
            untold_.atEnds = untold_.added >= 0;
        } else if (removed == 0 && from == before) {
            untold_.added += added;
        } else {
            untold_.atEnds = false;
        }
    }
    noticeLater();
}

void ReceiveBox::noticeLater() {
    if (notice_.isActive() || !QAccessible::isActive())
        return;
    // The first change after a quiet spell is told at once, those that follow it together
    // once kNoticeMs have passed.
    const qint64 since = sinceNotice_.isValid() ? sinceNotice_.elapsed() : kNoticeMs;
    notice_.start(int(std::max<qint64>(0, kNoticeMs - since)), this);
}

void ReceiveBox::tellAssistiveTechnology() {
    notice_.stop();
    sinceNotice_.start();
    const Untold untold = std::exchange(untold_, Untold{});
    if (!QAccessible::isActive()) {
        toldCaret_ = -1;
        toldSelection_ = {-1, -1};
        return;
    }
    const int length = doc_->characterCount() - 1;
    const int caret = cursor_.position();
    const auto tell = [&](QAccessibleTextCursorEvent& event) {
        event.setCursorPosition(caret);
        QAccessible::updateAccessibility(&event);
    };
    // Removed text is told by its length only (as spaces): the box does not keep it.
    const auto spaces = [](int count) { return QString(count, QLatin1Char(' ')); };
    if (untold.any && untold.atEnds) {
        // A stream: its oldest lines cut at the start and its frames added at the end.
        if (untold.cut > 0) {
            QAccessibleTextRemoveEvent event(this, 0, spaces(untold.cut));
            tell(event);
        }
        if (untold.added > 0) {
            const int at = length - untold.added;
            QAccessibleTextInsertEvent event(this, at, plainBetween(doc_, at, length));
            tell(event);
        }
    } else if (untold.any) {
        // Anything else: the one stretch between what is the same at both ends.
        const int same = untold.same;
        const int sameEnd =
            std::max(0, std::min(untold.sameEnd, std::min(untold.told, length) - same));
        const int removed = untold.told - same - sameEnd;
        const QString inserted = plainBetween(doc_, same, length - sameEnd);
        if (removed > 0 && !inserted.isEmpty()) {
            QAccessibleTextUpdateEvent event(this, same, spaces(removed), inserted);
            tell(event);
        } else if (removed > 0) {
            QAccessibleTextRemoveEvent event(this, same, spaces(removed));
            tell(event);
        } else if (!inserted.isEmpty()) {
            QAccessibleTextInsertEvent event(this, same, inserted);
            tell(event);
        }
    }
    if (caret != toldCaret_) {
        toldCaret_ = caret;
        QAccessibleTextCursorEvent event(this, caret);
        tell(event);
    }
    const std::pair<int, int> selection =
        cursor_.hasSelection() ? std::pair(cursor_.selectionStart(), cursor_.selectionEnd())
                               : std::pair(-1, -1);
    if (selection != toldSelection_) {
        toldSelection_ = selection;
        QAccessibleTextSelectionEvent event(this, selection.first, selection.second);
        tell(event);
    }
}

// What a screen reader or a UI automation tool sees of the box: an editable text whose
// value is the box's text, with its caret, its selection and the rows it is drawn in.
// Typing from assistive technology goes through the keyboard, as typed keys are sent on
// the line, so there is no editing interface.
class ReceiveBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit ReceiveBoxAccessible(ReceiveBox* box)
        : QAccessibleWidget(box, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return box()->toPlainText();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        const QTextCursor& cursor = box()->cursor_;
        if (index == 0 && cursor.hasSelection()) {
            *start = cursor.selectionStart();
            *end = cursor.selectionEnd();
        }
    }
    int selectionCount() const override { return box()->cursor_.hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index != 0)
            return;
        box()->cursor_.clearSelection();
        box()->caretMoved();
    }
    void setSelection(int index, int start, int end) override {
        if (index != 0)
            return;
        ReceiveBox* b = box();
        b->cursor_.setPosition(b->snapped(clamped(start)));
        b->cursor_.setPosition(b->snapped(clamped(end)), QTextCursor::KeepAnchor);
        b->caretMoved();
    }
    int cursorPosition() const override { return box()->cursor_.position(); }
    void setCursorPosition(int position) override {
        ReceiveBox* b = box();
        b->cursor_.setPosition(b->snapped(clamped(position)));
        b->caretMoved();
    }

    QString text(int start, int end) const override {
        const int length = characterCount();
        if (end < 0 || end > length) // -1: to the end
            end = length;
        return plainBetween(box()->doc_, clamped(start), end);
    }
    int characterCount() const override { return box()->doc_->characterCount() - 1; }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override {
        *start = *end = -1;
        offset = resolved(offset);
        if (offset < 0)
            return {};
        std::tie(*start, *end) = span(offset, type);
        return text(*start, *end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override {
        *start = *end = -1;
        offset = resolved(offset);
        if (offset < 0)
            return {};
        const int at = span(offset, type).first;
        if (at <= 0)
            return {};
        std::tie(*start, *end) = span(at - 1, type);
        return text(*start, *end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override {
        *start = *end = -1;
        offset = resolved(offset);
        if (offset < 0)
            return {};
        const int at = std::max(span(offset, type).second, offset + 1);
        if (at >= characterCount())
            return {};
        std::tie(*start, *end) = span(at, type);
        return text(*start, *end);
    }

    QRect characterRect(int offset) const override {
        if (offset < 0 || offset > characterCount())
            return {};
        const ReceiveBox* b = box();
        QRect rect = b->caretRectFor(offset);
        const QChar c = b->doc_->characterAt(offset);
        if (offset < characterCount() && c != QChar::ParagraphSeparator)
            rect.setWidth(std::max(1, int(std::lround(b->advanceAt(c, rect.x() - kMargin)))));
        return QRect(b->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QWidget* viewport = box()->viewport();
        const QPoint at = viewport->mapFromGlobal(point);
        return viewport->rect().contains(at) ? box()->positionAt(at) : -1;
    }
    void scrollToSubstring(int start, int) override { box()->ensureVisible(clamped(start)); }
    QString attributes(int offset, int* start, int* end) const override {
        // One font and colour throughout.
        const bool inside = offset >= 0 && offset <= characterCount();
        *start = inside ? 0 : -1;
        *end = inside ? characterCount() : -1;
        return {};
    }

  private:
    ReceiveBox* box() const { return static_cast<ReceiveBox*>(widget()); }
    int clamped(int position) const { return std::clamp(position, 0, characterCount()); }
    // An offset as assistive technology gives it: -1 is the end, -2 the caret.
    int resolved(int offset) const {
        if (offset == -1)
            return characterCount();
        if (offset == -2)
            return cursorPosition();
        return offset >= 0 && offset <= characterCount() ? offset : -1;
    }
    std::pair<int, int> span(int offset, QAccessible::TextBoundaryType type) const {
        const ReceiveBox* b = box();
        const int length = characterCount();
        if (type == QAccessible::NoBoundary)
            return {0, length};
        if (type == QAccessible::LineBoundary) {
            // A line is a row as the box draws it; a line's last row ends after its line
            // break, so that the rows read one after another give the whole text.
            ReceiveBox::Row row;
            b->rowOfPosition(offset, &row);
            const QTextBlock block = b->doc_->findBlock(offset);
            const int at = block.position();
            const bool lastRow = row.to == block.length() - 1;
            return {at + row.from, at + row.to + (lastRow && block.next().isValid() ? 1 : 0)};
        }
        QTextCursor cursor(b->doc_);
        cursor.setPosition(offset);
        const auto [from, to] = QAccessible::qAccessibleTextBoundaryHelper(cursor, type);
        return {std::clamp(from, 0, length), std::clamp(to, 0, length)};
    }
};

namespace {
QAccessibleInterface* accessibleFor(const QString& key, QObject* object) {
    auto* box = qobject_cast<ReceiveBox*>(object);
    if (box && key == QLatin1String(ReceiveBox::staticMetaObject.className()))
        return new ReceiveBoxAccessible(box);
    return nullptr;
}

void installAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
}
} // namespace
