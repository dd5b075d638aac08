#pragma once

#include "app/windowflags.h"

#include <QTimer>
#include <QWidget>

class AppContext;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// "命令方式": raw hex frames typed as pairs and sent as they stand; module replies that
// the parser recognises are logged in the receive area.
class CommandWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::commandWindowOpen;
    explicit CommandWindow(AppContext& ctx);
    ~CommandWindow() override;

    void Form_Load();
    void Send();
    // A key typed anywhere in the window: Enter sends, everything else is hex entry.
    void Form_KeyPress(int key);
    // Inserts a logged reply at the receive area's caret.
    void insertReply(const QString& line);

    bool meshow = false;
    QLabel* Label1;
    QPlainTextEdit* Text1;
    QPushButton* Command1;
    QPushButton* Command2;
    QLabel* Label2;
    QPlainTextEdit* Text2;
    QPushButton* Command3;
    QTimer Timer1;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    AppContext& ctx_;
};
