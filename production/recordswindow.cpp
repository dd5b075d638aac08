#include "production/recordswindow.h"

#include "app/appcontext.h"
#include "records/openresults.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kTitle = QStringLiteral("提示");

void fillRow(QTableWidget* table, int row, const QStringList& cells) {
    for (int c = 0; c < cells.size(); ++c)
        table->setItem(row, c, new QTableWidgetItem(cells.at(c)));
}

QTableWidget* makeTable(QWidget* parent, const QStringList& headers) {
    auto* table = new QTableWidget(0, int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    return table;
}
} // namespace

RecordsWindow::RecordsWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("records"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("生产记录"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));

    fromDate = new QDateEdit(QDate::currentDate().addDays(-7), this);
    toDate = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* d : {fromDate, toDate}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    lotBox = new QLineEdit(this);
    serialBox = new QLineEdit(this);
    resultList = new QComboBox(this);
    resultList->addItems(
        {QStringLiteral("全部"), QStringLiteral("合格"), QStringLiteral("不合格")});
    queryButton = new QPushButton(QStringLiteral("查询"), this);
    exportButton = new QPushButton(QStringLiteral("导出CSV"), this);
    auto* filters = new QGridLayout;
    filters->addWidget(new QLabel(QStringLiteral("日期"), this), 0, 0);
    filters->addWidget(fromDate, 0, 1);
    filters->addWidget(new QLabel(QStringLiteral("至"), this), 0, 2);
    filters->addWidget(toDate, 0, 3);
    filters->addWidget(new QLabel(QStringLiteral("结果"), this), 0, 4);
    filters->addWidget(resultList, 0, 5);
    filters->addWidget(new QLabel(QStringLiteral("批号"), this), 1, 0);
    filters->addWidget(lotBox, 1, 1);
    filters->addWidget(new QLabel(QStringLiteral("模块编号"), this), 1, 2);
    filters->addWidget(serialBox, 1, 3);
    filters->addWidget(queryButton, 1, 4);
    filters->addWidget(exportButton, 1, 5);

    runTable = makeTable(
        this, {QStringLiteral("时间"), QStringLiteral("模块编号"), QStringLiteral("结果"),
               QStringLiteral("原因"), QStringLiteral("批号"), QStringLiteral("操作员"),
               QStringLiteral("工位"), QStringLiteral("配置"), QStringLiteral("用时(毫秒)")});
    fieldTable =
        makeTable(this, {QStringLiteral("项目"), QStringLiteral("期望"), QStringLiteral("测试前"),
                         QStringLiteral("测试后"), QStringLiteral("结果")});
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(runTable);
    split->addWidget(fieldTable);
    yieldLabel = new QLabel(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(split, 1);
    layout->addWidget(yieldLabel);
    resize(760, 560);

    connect(queryButton, &QPushButton::clicked, this, &RecordsWindow::refresh);
    connect(exportButton, &QPushButton::clicked, this, &RecordsWindow::exportCsv);
    connect(runTable, &QTableWidget::currentCellChanged, this,
            [this](int row) { showFields(row); });
}

RecordsWindow::~RecordsWindow() {
    ctx_.windowOpen.recordsWindowOpen = false;
}

void RecordsWindow::Form_Load() {
    ctx_.windowOpen.recordsWindowOpen = true;
    QString error;
    db_ = OpenResultsDatabase(ctx_.store(), &error);
    if (!db_) {
        yieldLabel->setText(QStringLiteral("记录数据库不可用:") + error);
        queryButton->setEnabled(false);
        exportButton->setEnabled(false);
        return;
    }
    refresh();
}

RunFilter RecordsWindow::filter() const {
    RunFilter f;
    f.from = fromDate->date();
    f.to = toDate->date();
    f.lot = lotBox->text().trimmed();
    f.serial = serialBox->text().trimmed();
    if (resultList->currentIndex() > 0)
        f.pass = resultList->currentIndex() == 1;
    return f;
}

void RecordsWindow::refresh() {
    if (!db_)
        return;
    QString error;
    shown_ = db_->runs(filter(), &error);
    runTable->setRowCount(int(shown_.size()));
    int passed = 0;
    for (int row = 0; row < shown_.size(); ++row) {
        const RunRecord& r = shown_.at(row);
        passed += r.result.pass ? 1 : 0;
        fillRow(runTable, row,
                {r.result.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 r.serial, r.result.pass ? QStringLiteral("合格") : QStringLiteral("不合格"),
                 r.result.reason, r.lot, r.operatorName, r.station, r.profileName,
                 QString::number(r.result.durationMs)});
    }
    const int total = int(shown_.size());
    yieldLabel->setText(!error.isEmpty() ? QStringLiteral("查询失败:") + error
                        : total == 0
                            ? QStringLiteral("没有记录")
                            : QStringLiteral("共 %1 个    合格 %2    不合格 %3    合格率 %4%")
                                  .arg(total)
                                  .arg(passed)
                                  .arg(total - passed)
                                  .arg(100.0 * passed / total, 0, 'f', 1));
    fieldTable->setRowCount(0);
    if (total > 0)
        runTable->setCurrentCell(0, 0);
}

void RecordsWindow::showFields(int row) {
    if (row < 0 || row >= shown_.size()) {
        fieldTable->setRowCount(0);
        return;
    }
    const QList<RunField>& fields = shown_.at(row).result.fields;
    fieldTable->setRowCount(int(fields.size()));
    for (int i = 0; i < fields.size(); ++i) {
        const RunField& f = fields.at(i);
        fillRow(fieldTable, i,
                {f.field, f.expected, f.before, f.after,
                 f.ok ? QStringLiteral("一致") : QStringLiteral("不符")});
    }
}

void RecordsWindow::exportCsv() {
    if (!db_)
        return;
    const QString path =
        ctx_.dialogs().saveFileName(QStringLiteral("导出CSV"), QStringLiteral("CSV 文件 (*.csv)"),
                                    QStringLiteral("生产记录.csv"));
    if (path.isEmpty())
        return;
    QString error;
    const QByteArray csv = db_->exportCsv(filter(), &error);
    QSaveFile file(path);
    if (!error.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() ||
        !file.commit()) {
        ctx_.dialogs().message(QStringLiteral("无法导出到 %1:%2")
                                   .arg(path, error.isEmpty() ? file.errorString() : error),
                               kTitle, UserDialogs::Icon::Exclamation);
        return;
    }
    ctx_.dialogs().message(QStringLiteral("已导出 %1 条记录到 %2。").arg(shown_.size()).arg(path),
                           kTitle, UserDialogs::Icon::Information);
}

void RecordsWindow::closeEvent(QCloseEvent* event) {
    ctx_.windowOpen.recordsWindowOpen = false;
    event->accept();
}
