#pragma once

#include "app/windowflags.h"
#include "link/productionrun.h"
#include "records/resultsdb.h"

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

class AppContext;
class ProfileEditor;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

// "生产测试": one module after another configured from a profile, checked field by
// field and recorded. A scanner types the module's serial and Enter, which starts the
// test; in "自动" the next module starts as soon as it has been swapped in. A result is
// shown only once it is stored; one that cannot be stored is an error, never a pass.
class ProductionWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::productionWindowOpen;
    explicit ProductionWindow(AppContext& ctx);
    ~ProductionWindow() override;

    void Form_Load();
    // Loads a profile file; false (the user told which field is wrong) when it is not one.
    bool loadProfile(const QString& path);
    // "开始" (or Enter in the serial box).
    void startTest();
    bool stationReady() const { return db_ && db_->isOpen(); }
    // "编辑": the profile field by field; what its "确定" gives is tested from then on
    // (and saved with "保存").
    ProfileEditor* editProfile();
    const std::optional<ModuleProfile>& profile() const { return profile_; }

    QLabel* profileLabel;
    QPushButton* loadButton;
    QPushButton* saveButton;
    QPushButton* fromModuleButton;
    QPushButton* editButton;
    QLineEdit* operatorBox;
    QLineEdit* lotBox;
    QLineEdit* serialBox;
    QPushButton* startButton;
    QCheckBox* autoBox;
    // Reads and polls driven by the module's replies instead of every 100 ms.
    QCheckBox* fastReadBox;
    QLabel* resultPanel;
    QLabel* stepLabel;
    QTableWidget* fieldTable;
    QLabel* countersLabel;
    QListWidget* lastResults;

    int tested = 0;
    int passed = 0;

  signals:
    // A run was stored (its id) and shown.
    void recorded(qint64 id, bool pass);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void openDatabase();
    void onFinished(const RunResult& result);
    void showResult(bool pass, const QString& text);
    void showFields(const QList<RunField>& fields);
    void saveProfile();
    void saveFromModule();
    void expectNextModule();
    void setProfile(ModuleProfile profile, const QByteArray& bytes, const QString& source);
    void onLineLost();
    void tryPortReturn();
    void updateCounters();
    void setEntryLocked(bool locked);
    bool writeProfile(const QString& path, const ModuleProfile& profile);

    AppContext& ctx_;
    ProductionRun run_;
    std::unique_ptr<ResultsDatabase> db_;
    std::optional<ModuleProfile> profile_;
    QByteArray profileBytes_;
    bool savingFromModule_ = false;
    // "自动": probes until the module has gone, then until a module answers.
    enum class Swap { Off, WaitGone, WaitBack } swap_ = Swap::Off;
    int missedProbes_ = 0;
    QTimer swapProbe_;
    // After a lost line: the port number and settings to open again, tried every
    // half second while the window is open.
    QTimer portReturn_;
    qint16 lostPort_ = 0;
    QString lostSettings_;
    // Who and what the run under way is for, taken when it starts: a scanner reading
    // the next module meanwhile changes nothing of it.
    QString runOperator_, runLot_, runSerial_;
};
