#pragma once

#include "link/link.h"
#include "ui/receivebox.h"

#include <QElapsedTimer>
#include <QList>
#include <QTimer>
#include <QWidget>
#include <array>

class QStatusBar;
class StatusPanel;

// The receive window: shows received data, the DTR/DSR lines, the module's CRC and
// version, and sends what the user types. It shows the link; the link (serial object,
// parser, timed requests) works without it.
class ShowData : public QWidget {
    Q_OBJECT
  public:
    explicit ShowData(Link& link);
    ~ShowData() override;

    void Form_Load();
    // Sets panel 1 from dtr and panel 2 from dsr.
    void dtrdsr(const bool& dtr, const bool& dsr);
    // DSR changes (received data goes to the parser through the link).
    void MSComm1_OnComm();
    // One typed character; returns false when it must not appear in Text1.
    bool Text1_KeyPress(QChar key);
    void Timer3_Timer();
    // Ends a hex burst shown by the file-capture path: line break, box trimmed.
    void Timer7_Timer();

    StatusPanel* panel(int number) const { return panels_.at(number - 1); }
    // Received text (hex pairs or characters) for Text1. It is gathered and goes in at
    // most once per display frame, or at once after a pause; the box keeps its last
    // kMaxBlocks lines.
    void appendReceived(const QString& text, bool hex = false);
    // Puts everything gathered into Text1 now.
    void flushReceived();

    static constexpr int kMaxBlocks = 1500;
    // Hex pairs per line: a hex stream has no line breaks of its own.
    static constexpr int kHexLine = 16 * 3;
    // A character line without a break is broken here, so no line grows without end.
    static constexpr int kTextLine = 1024;
    static constexpr int kFrameMs = 50;
    // Bytes that followed a rejected file header: hex pairs go in at the caret and
    // Timer7 ends the burst; characters go at the end, the box kept below 2400
    // characters by cutting it to its last 2100.
    void showLeftover(const QString& text, bool hex);

    Link& link;
    CommControl& MSComm1;
    ReceiveBox* Text1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QTimer Timer3; // end of a typed key's DTR pulse
    QTimer Timer7; // end of a hex burst
    QTimer frame;  // puts gathered received text into Text1
    bool dsr = false;
    // Set when the program ends; until then the window refuses to close.
    bool closingDown = false;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void setDsrPanel(bool on);

    std::array<StatusPanel*, 4> panels_{};
    struct Gathered {
        QString text;
        bool hex = false;
    };
    QList<Gathered> gathered_;
    static void dropHexBeyondTheBox(QString& hex);
    void dropTextBeyondTheBox(QString& text);
    qsizetype textLookedAt_ = 0;
    QElapsedTimer sinceFlush_;
};
