#pragma once

#include "app/windowflags.h"
#include "records/resultsdb.h"

#include <QWidget>
#include <memory>

class AppContext;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// "生产记录": the recorded runs, newest first, filtered by date, lot, result and serial;
// the fields of the chosen run; the yield of what is shown; and "导出CSV".
class RecordsWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::recordsWindowOpen;
    explicit RecordsWindow(AppContext& ctx);
    ~RecordsWindow() override;

    void Form_Load();
    // Lists the runs the filter picks.
    void refresh();
    RunFilter filter() const;
    void exportCsv();

    QDateEdit* fromDate;
    QDateEdit* toDate;
    QLineEdit* lotBox;
    QLineEdit* serialBox;
    QComboBox* resultList;
    QPushButton* queryButton;
    QPushButton* exportButton;
    QTableWidget* runTable;
    QTableWidget* fieldTable;
    QLabel* yieldLabel;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void showFields(int row);

    AppContext& ctx_;
    std::unique_ptr<ResultsDatabase> db_;
    QList<RunRecord> shown_;
};
