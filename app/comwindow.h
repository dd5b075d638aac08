#pragma once

#include "app/windowflags.h"

#include <QWidget>

class AppContext;
class QComboBox;
class QLabel;
class QPushButton;

// "串口设置": port, rate and data bits; OK reopens the port with them and stores the
// port and rate that worked.
class ComWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::comWindowOpen;
    explicit ComWindow(AppContext& ctx);
    ~ComWindow() override;

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    // "COM1".."COM40" -> "1".."40"; anything else -> "".
    static QString comconver(const QString& portName);

    QLabel* Label1;
    QComboBox* Combo1; // port numbers
    QLabel* Label2;
    QComboBox* Combo2; // rates
    QLabel* Label4;
    QComboBox* Combo4; // data bits
    QPushButton* Command1;
    QPushButton* Command2;
    // Which device the chosen number is: its path, and what the system reports of it.
    QLabel* deviceLine;
    void showChosenDevice();

    qint16 comport = 0;
    qint32 comrate = 0;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void unload();

    AppContext& ctx_;
    bool unloading_ = false;
};
