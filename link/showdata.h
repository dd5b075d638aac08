#pragma once

#include "link/commcontrol.h"

#include <QTimer>
#include <QWidget>
#include <array>

class AppContext;
class QPlainTextEdit;
class QStatusBar;
class StatusPanel;

// The receive window: shows received data, the DTR/DSR lines, the module's CRC and
// version, sends what the user types, and owns the program's one serial object.
class ShowData : public QWidget {
    Q_OBJECT
  public:
    ShowData(AppContext& ctx, CommControl::PortResolver resolver, SerialBackendFactory factory);
    ~ShowData() override;

    void Form_Load();
    // Sets panel 1 from dtr and panel 2 from dsr.
    void dtrdsr(const bool& dtr, const bool& dsr);
    void MSComm1_OnComm();
    // One typed character; returns false when it must not appear in Text1.
    bool Text1_KeyPress(QChar key);
    void Timer3_Timer();
    // Timed requests: probe time-out, read cycle, prompt close, switch-port poll,
    // unlisted-reply collection and the end of a hex burst.
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer4_Timer();
    void Timer5_Timer();
    void Timer6_Timer();
    void Timer7_Timer();
    void SendReadRequest(const qint16& step);
    void SendGateQuery();

    StatusPanel* panel(int number) const { return panels_.at(number - 1); }
    // Appends received text to Text1, keeping the box to a bounded size.
    void appendReceived(const QString& text);

    CommControl MSComm1;
    QPlainTextEdit* Text1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QTimer Timer1; // module-probe time-out
    QTimer Timer2; // parameter read cycle
    QTimer Timer3; // end of a typed key's DTR pulse
    QTimer Timer4; // closes the finished-read prompt
    QTimer Timer5; // switch-port poll
    QTimer Timer6; // rest of an unlisted reply
    QTimer Timer7; // end of a hex burst
    // Grace for the eleventh byte of a version reply; afterwards ten bytes are taken.
    QTimer versionWait;
    bool versionWaitOver = false;

    bool dtr = true;
    bool dsr = false;
    qint16 readstep = 0;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void setDsrPanel(bool on);

    AppContext& ctx_;
    std::array<StatusPanel*, 4> panels_{};
};
