#pragma once

#include "app/windowflags.h"

#include <QString>
#include <QWidget>
#include <array>

class AppContext;
class QAction;
class QMenu;
class QPushButton;

// Six bytes of a channel: packed decimal pairs of characters 1-2, 3-4 ... 11-12 of its
// text (transmit frequency, then receive frequency).
using ChannelBytes = std::array<quint8, 6>;
ChannelBytes PackChannelText(const QString& text);

// The debug window `debugwd`: one click per test function of the module (1010 test
// code, power amplifier) and six preset channels, whose 12-digit frequency texts are
// kept in the settings store and edited from the channel buttons' pop-up menu.
class DebugWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::debugWindowOpen;
    explicit DebugWindow(AppContext& ctx);
    ~DebugWindow() override;

    void Form_Load();
    // Button Index: 0/1 test code on/off, 2/3 amplifier on/off, 4..9 channel 1..6.
    void Command1_Click(int Index);
    // Edits the frequency text of channel Index (1..6).
    void freq1_Click(int Index);

    std::array<QPushButton*, 10> Command1{};
    QMenu* editfreq = nullptr;
    QMenu* freq = nullptr;
    std::array<QAction*, 7> freq1{}; // 1..6 used
    QAction* freqdisp = nullptr;

    // Channel 1..6 at index 0..5.
    std::array<QString, 6> channelText;
    std::array<ChannelBytes, 6> channelBytes{};

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void setChannel(int channel, const QString& text);

    AppContext& ctx_;
};
