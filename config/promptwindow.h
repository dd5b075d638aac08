#pragma once

#include <QWidget>

class AppContext;
class QLabel;
class QProgressBar;
class QPushButton;
class QGroupBox;

// The prompt `dialog`: a small always-on-top window reporting the parameter read, a
// module that does not answer, or the progress of repeated sending. Closing it unloads
// it; its close box is refused.
class PromptWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PromptWindow(AppContext& ctx);

    // Prepares the controls for mode 1..4 and shows the window.
    void prepare(qint16 mode);
    void Command1_Click();
    void Command2_Click();
    // Closes the prompt without what its buttons do (the read it reported is over).
    void dismiss() { closeFromButton(); }
    qint16 mode() const { return mode_; }

    QLabel* Label1;
    QLabel* Image1;
    QProgressBar* ProgressBar1;
    QPushButton* Command1;
    QGroupBox* Frame1;
    QLabel* Label3; // send count
    QLabel* Label5; // send interval
    QPushButton* Command2;

    // The data-string sender's count and interval shown in mode 3.
    int txtime = 0;
    QString timerinterval;

  signals:
    // "停止" was pressed while repeated sending was shown.
    void stopRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void closeFromButton();

    AppContext& ctx_;
    qint16 mode_ = 0;
    bool closing_ = false;
};
