#pragma once

#include "app/windowflags.h"

#include <QByteArray>
#include <QTimer>
#include <QWidget>

class AppContext;
class PacedSender;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

// "数据发送" (`strbunch`): a block of test data sent over the radio link once, with a
// progress bar, or repeatedly at a chosen interval while the prompt counts the blocks.
// The data is the built-in 95-byte string or the user's own, typed as hex pairs or as
// characters (sent as their GBK bytes). DTR is held off while it sends.
class StrbunchWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::stringWindowOpen;
    explicit StrbunchWindow(AppContext& ctx);
    ~StrbunchWindow() override;

    // The built-in data: 95 pairs, six each of 00, 11 ... EE, then five of FF.
    static QString defaultDataText();

    void Form_Load();
    void Option1_Click();  // custom data as hex pairs
    void Option2_Click();  // custom data as characters
    void Option3_Click();  // the built-in data
    void Option4_Click();  // the user's own data
    void Command3_Click(); // single send
    void Command1_Click(); // continuous send
    void Command2_Click(); // close
    void Timer1_Timer();
    // The prompt's "停止": ends a continuous send at once and shows the window again.
    void stopContinuous();

    bool sending() const;

    bool HexMode = true;
    bool CharMode = false;
    bool DefaultData = true;
    // Blocks sent since the continuous send started, and its interval as chosen.
    int txtime = 0;
    QString timerinterval;
    // What a send writes, prepared when it starts.
    QByteArray DataBytes;

    QPlainTextEdit* Text1;
    QGroupBox* Frame1;
    QRadioButton* Option1;
    QLabel* Label1;
    QRadioButton* Option2;
    QLabel* Label2;
    QGroupBox* Frame2;
    QRadioButton* Option3;
    QLabel* Label5;
    QRadioButton* Option4;
    QLabel* Label6;
    QLabel* Label3;
    QComboBox* Combo1;
    QLabel* Label4;
    QPushButton* Command3;
    QPushButton* Command1;
    QPushButton* Command2;
    QProgressBar* ProgressBar1;
    QTimer Timer1;

    // Text arriving in Text1 other than by a key (paste, drop): in hex mode only what
    // the key filter lets through is kept.
    void insertText(const QString& text);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // The bytes to send; empty (and the user told) when there are none.
    QByteArray prepareData(bool rewriteText);
    // Applies one typed character as the box's key filter does; true when the box may
    // take it itself.
    bool keyPress(int key);
    void endContinuous();
    void showAgain();
    void sendFailed(const QString& reason);
    void updateButtons();

    AppContext& ctx_;
    // One block at a time: a single send restores DTR 100 ms after its last byte; the
    // blocks of a continuous send run under the window's own DTR hold.
    PacedSender* single_;
    PacedSender* block_;
    bool continuous_ = false;
    bool portLost_ = false;
    bool unloading_ = false;
};
