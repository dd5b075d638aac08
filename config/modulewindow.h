#pragma once

#include "app/windowflags.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QWidget>
#include <array>

class AppContext;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The module settings window `module`: shows the module's twelve settings as last read
// and writes the ones the user changed back, one command frame per setting. Viewing
// (button "重新设置") and editing (button "设  置") alternate on the main button; the
// refresh button starts the receive window's read cycle and redraws at its end.
class ModuleWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::moduleWindowOpen;
    explicit ModuleWindow(AppContext& ctx);
    ~ModuleWindow() override;

    void Form_Load();
    // Main button: viewing -> editing; editing -> write the changed settings.
    void Command1_Click();
    // "取消": closes the window.
    void Command2_Click();
    // "刷新": reads the module's settings again.
    void Command3_Click();

    QGroupBox* Frame1 = nullptr;
    std::array<QLabel*, 7> Label1{};
    // 0 transmit and 1 receive frequency, 2 own and 3 destination address, 4 retry
    // count, 5 invitation group, 6 software version (shown only).
    std::array<QLineEdit*, 7> Text1{};
    std::array<QLabel*, 3> Label2{};
    // 0 power saving, 1 temperature compensation, 2 voice mode.
    std::array<QComboBox*, 3> Combo1{};
    QLabel* Label3 = nullptr;
    QComboBox* Combo2 = nullptr; // squelch
    QLabel* Label4 = nullptr;
    QComboBox* Combo3 = nullptr; // data bits
    QPushButton* Command3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    // Changed flags of the last write: the six text settings and the three Combo1 lists.
    std::array<bool, 6> textChanged{};
    std::array<bool, 3> listChanged{};

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void computeChangedFlags();
    // Names of the changed settings whose text cannot make a frame, with the reason.
    QStringList malformedSettings() const;
    QList<QByteArray> writeFrames() const;
    void setListsEditing(bool enabled);

    AppContext& ctx_;
    bool closingFromCode_ = false;
};

// Copies the module parameter record into the module window (loading it when needed):
// texts, and each control enabled exactly when the module has that setting. The
// squelch and data-bits lists are filled only when the window loads.
void ShowModuleParameters(AppContext& ctx);
// Enables or disables the seven boxes and the three Combo1 lists of the module window.
void SetParameterEditing(AppContext& ctx, bool enabled);
