#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QTextCursor>

#include <array>
#include <deque>
#include <utility>
#include <vector>

class QTextDocument;
class QTextBlock;

// The receive window's text box: a view over a plain-text document that wraps and paints
// only the rows on screen, with each character's glyph looked up once. A stream of
// received text then costs the rows it shows, not a text layout per line and a pass over
// a document layout per frame. The document holds the text, the caret and the selection;
// typing, deleting, pasting, selecting and copying work as in a plain text box. Screen
// readers and other assistive technology read the text, the caret and the selection, and
// are told what changed a few times a second at most, and only while one is listening.
class ReceiveBox : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit ReceiveBox(QWidget* parent);
    ~ReceiveBox() override;

    QTextDocument* document() const { return doc_; }
    QTextCursor textCursor() const { return cursor_; }
    QString toPlainText() const;
    void setPlainText(const QString& text);
    void clear();
    // Inserts at the caret, in place of a selection.
    void insertPlainText(const QString& text);
    void moveCursor(QTextCursor::MoveOperation operation,
                    QTextCursor::MoveMode mode = QTextCursor::MoveAnchor);
    void setMaximumBlockCount(int count);
    void copy();
    void paste();
    void selectAll();

    // Removes the first dropLines lines, appends text at the end and, when follow is
    // set, moves the caret to the end with the last line at the bottom of the box.
    void appendFrame(int dropLines, const QString& text, bool follow);

    // Rows of text the box shows whole.
    int rowsOnScreen() const;
    // Where position lies on the viewport: its row's rectangle from its x to one pixel on.
    QRect caretRectFor(int position) const;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    friend class ReceiveBoxAccessible;
    static constexpr int kUnknown = -2;
    static constexpr int kMicroFocusMs = 250;
    static constexpr int kNoticeMs = 250; // between two notices to assistive technology
    struct Glyph {
        quint32 index = 0;
        qreal advance = 0;
        int font = kUnknown; // into fonts_; -1: nothing to draw; kUnknown: not looked up
    };
    struct Row {
        int from = 0; // positions in the block
        int to = 0;
    };
    const Glyph& glyph(QChar c) const;
    // Advance of c drawn at x (a tab goes to the next tab stop).
    qreal advanceAt(QChar c, qreal x) const;
    QList<Row> wrap(const QString& text) const;
    // The number of rows text wraps into, and the rows themselves when asked.
    int wrap(const QString& text, QList<Row>* rows) const;
    int wrapWidth() const;
    int rowHeight() const;
    void measureFont();
    void contentsChanged(int from, int removed, int added);
    void relayoutAll();
    void updateScrollRange();
    // Block number and row in that block of a row counted from the top of the text.
    std::pair<int, int> locate(int row) const;
    int firstRowOf(int blockNumber) const;
    int rowOfPosition(int position, Row* row = nullptr) const;
    int positionAt(const QPoint& point) const;
    int snapped(int position) const;
    qreal xOf(const QString& text, const Row& row, int column) const;
    void caretMoved(bool keepX = false);
    // Scrolls the row of position into view.
    void ensureVisible(int position);
    void moveByRows(int rows, QTextCursor::MoveMode mode);
    void restartBlink();
    void drawRow(QPainter& painter, const QTextBlock& block, const QString& text, const Row& row,
                 int top, int selectionFrom, int selectionTo);
    // The text changes assistive technology has not been told of, in terms of the text it
    // was last told of and the text now.
    struct Untold {
        bool any = false;
        int told = 0;       // length of the text it was told of
        int same = 0;       // characters at the start that are the same in both texts
        int sameEnd = 0;    // and at the end
        bool atEnds = true; // text was only cut at the start and added at the end since
        int cut = 0;        // characters of the told text cut at the start
        int added = 0;      // characters added at the end and still there
    };
    void noteChange(int from, int removed, int added);
    // Arms the notice; a stream's frames only arm it.
    void noticeLater();
    void tellAssistiveTechnology();

    QTextDocument* doc_;
    QTextCursor cursor_;
    std::deque<int> rows_; // rows of each block, by block number
    int totalRows_ = 1;
    int laidOutWidth_ = -1;
    int rowHeight_ = 1; // of the box's font, kept because frames ask for it often
    int ascent_ = 0;
    mutable QList<QRawFont> fonts_;
    mutable std::array<Glyph, 256> latin1_{};
    mutable QHash<char16_t, Glyph> glyphs_;
    std::vector<quint32> runIndexes_; // the glyph run drawRow is gathering
    std::vector<QPointF> runPositions_;
    QBasicTimer blink_;
    QBasicTimer microFocus_; // tells the input method where a stream took the caret
    QBasicTimer notice_;     // tells assistive technology what changed
    QElapsedTimer sinceNotice_;
    Untold untold_;
    int length_ = 0; // of the text, as of the last change
    int toldCaret_ = -1;
    std::pair<int, int> toldSelection_{-1, -1};
    bool caretOn_ = true;
    bool selecting_ = false;
    bool inFrame_ = false;
    qreal wantedX_ = -1; // the x Up and Down keep, once set
};
