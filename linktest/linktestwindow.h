#pragma once

#include "app/windowflags.h"
#include "link/linktest.h"

#include <QList>
#include <QWidget>
#include <memory>

class AppContext;
class LinkTestChart;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class ResultsDatabase;

// "链路测试": one station's side of a link test over the radio (send, receive or echo),
// live counters and chart, the verdict against the threshold once the result is stored
// in the results database, and the result exported as CSV or the chart as PNG. The test
// itself is the engine's LinkTest; this window sets it up and shows it.
class LinkTestWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::linkTestWindowOpen;
    explicit LinkTestWindow(AppContext& ctx);
    ~LinkTestWindow() override;

    void Form_Load();
    void startTest();
    void stopTest();
    void exportCsv();
    void exportPng();

    LinkTest& test() { return *test_; }
    // The last result, once recorded (or refused by the database).
    const std::optional<LinkTestResult>& lastResult() const { return last_; }
    bool lastRecorded() const { return lastRecorded_; }

    QRadioButton* sendRole;
    QRadioButton* receiveRole;
    QRadioButton* echoRole;
    QSpinBox* countBox;
    QSpinBox* sizeBox;
    QDoubleSpinBox* intervalBox;
    QDoubleSpinBox* thresholdBox;
    QCheckBox* expectEchoBox;
    QPushButton* startButton;
    QPushButton* stopButton;
    QPushButton* csvButton;
    QPushButton* pngButton;
    QLabel* countersLabel;
    QLabel* verdictLabel;
    QLabel* noteLabel;
    QProgressBar* progressBar;
    LinkTestChart* chart;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Sample {
        int seq;
        double perPercent;
        double rttMs;
    };

    void updateInterval();
    void updateRole();
    void showCounts();
    void finished(const LinkTestResult& result);
    // The module's settings as last read, as JSON text (empty when none was read).
    ResultsDatabase* database(QString* error);

    AppContext& ctx_;
    LinkTest* test_;
    std::unique_ptr<ResultsDatabase> db_;
    std::optional<LinkTestResult> last_;
    bool lastRecorded_ = false;
    QList<Sample> samples_;
    bool intervalEdited_ = false;
    bool settingInterval_ = false;
};
