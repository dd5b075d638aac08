#pragma once

#include "app/windowflags.h"

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <array>

class AppContext;
class QComboBox;
class QLabel;
class QPushButton;

// The switch-quantity port window `gate`: one row per port PB1..PB8 showing its
// direction, answer and mode as held in portstate.dat, and a configuration frame
// D7 D6 k b1 b2 for every port the user changed.
class GateWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::portWindowOpen;
    explicit GateWindow(AppContext& ctx);
    ~GateWindow() override;

    // Reads portstate.dat and shows it; also run when a refresh's port poll has ended.
    void Form_Load();
    void InitPortWindow();
    // Shows storedPortTable in the rows.
    void ShowPortTable();
    // Builds newPortTable from the rows.
    void CollectPortTable();
    // Flags the ports whose bytes 1 or 2 differ between newPortTable and storedPortTable.
    void MarkChangedPorts();
    // Enables or disables every list of row Index.
    void edit_state(int Index, bool disply);
    // The user picked a direction in row Index.
    void Combo1_Click(int Index);
    // Main button: viewing -> editing; editing -> send the changed ports.
    void Command1_Click();
    // "取消": closes the window.
    void Command2_Click();
    // "刷新": polls the module's ports again.
    void Command3_Click();

    std::array<QLabel*, 8> Label1{};
    std::array<QComboBox*, 8> Combo1{}; // direction
    std::array<QComboBox*, 8> Combo2{}; // report mode of an input
    std::array<QComboBox*, 8> Combo3{}; // destination of an output
    std::array<QComboBox*, 8> Combo4{}; // output form
    std::array<QComboBox*, 8> Combo5{}; // answer
    QPushButton* Command3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    // Three bytes per port: port number, direction/answer, mode.
    QByteArray storedPortTable = QByteArray(24, '\0');
    QByteArray newPortTable = QByteArray(24, '\0');
    std::array<bool, 8> portChanged{};
    // True when the last row shown was an output; a row whose direction byte is not
    // recognised is shown as this.
    bool outputCarried = false;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void showOutputLists(int row, bool output);

    AppContext& ctx_;
    bool initialised_ = false;
    bool closingFromCode_ = false;
};

// Code of a list text: "输入" 0x0F, "应答" 0xF0, report modes and output forms their
// item number, destinations 0x10 times theirs; every other text 0x00.
quint8 PortItemCode(const QString& text);
// The 24 bytes of portstate.dat; missing bytes (short, absent or unreadable file, or
// anything but a regular file of that name) are 0.
QByteArray ReadPortStateFile();
