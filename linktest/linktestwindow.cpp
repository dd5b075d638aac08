#include "linktest/linktestwindow.h"

#include "app/appcontext.h"
#include "linktest/linktestchart.h"
#include "records/openresults.h"
#include "records/resultsdb.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QSysInfo>
#include <QVBoxLayout>

namespace {
QString number(double v, int decimals = 2) {
    return QString::number(v, 'f', decimals);
}

QString optionalMs(const std::optional<double>& v) {
    return v ? number(*v) : QStringLiteral("-");
}
} // namespace

LinkTestWindow::LinkTestWindow(AppContext& ctx)
    : ctx_(ctx), test_(new LinkTest(ctx.session(), this)) {
    setObjectName(QStringLiteral("linktest"));
    setWindowTitle(QStringLiteral("链路测试"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));

    auto* roles = new QGroupBox(QStringLiteral("本站"), this);
    sendRole = new QRadioButton(QStringLiteral("发送"), roles);
    receiveRole = new QRadioButton(QStringLiteral("接收"), roles);
    echoRole = new QRadioButton(QStringLiteral("回环"), roles);
    sendRole->setChecked(true);
    auto* roleGroup = new QButtonGroup(this);
    auto* roleLayout = new QHBoxLayout(roles);
    for (QRadioButton* b : {sendRole, receiveRole, echoRole}) {
        roleGroup->addButton(b);
        roleLayout->addWidget(b);
    }

    auto* params = new QGroupBox(QStringLiteral("参数"), this);
    countBox = new QSpinBox(params);
    countBox->setRange(1, 65535);
    countBox->setValue(1000);
    sizeBox = new QSpinBox(params);
    sizeBox->setRange(linkpacket::kMinPayload, linkpacket::kMaxPayload);
    sizeBox->setValue(32);
    intervalBox = new QDoubleSpinBox(params);
    intervalBox->setRange(0, 60000);
    intervalBox->setDecimals(1);
    thresholdBox = new QDoubleSpinBox(params);
    thresholdBox->setRange(0, 100);
    thresholdBox->setDecimals(2);
    thresholdBox->setValue(1.0);
    expectEchoBox = new QCheckBox(QStringLiteral("对端回环(测往返时间)"), params);
    auto* form = new QFormLayout(params);
    form->addRow(QStringLiteral("包数"), countBox);
    form->addRow(QStringLiteral("数据长度(字节)"), sizeBox);
    form->addRow(QStringLiteral("间隔(ms)"), intervalBox);
    form->addRow(QStringLiteral("合格门限 误包率(%)"), thresholdBox);
    form->addRow(expectEchoBox);

    startButton = new QPushButton(QStringLiteral("开始"), this);
    stopButton = new QPushButton(QStringLiteral("停止"), this);
    csvButton = new QPushButton(QStringLiteral("导出CSV"), this);
    pngButton = new QPushButton(QStringLiteral("导出图片"), this);
    auto* closeButton = new QPushButton(QStringLiteral("关闭"), this);
    stopButton->setEnabled(false);
    csvButton->setEnabled(false);
    pngButton->setEnabled(false);

    countersLabel = new QLabel(this);
    countersLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    verdictLabel = new QLabel(this);
    verdictLabel->setAlignment(Qt::AlignCenter);
    verdictLabel->setMinimumHeight(40);
    QFont big = verdictLabel->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    verdictLabel->setFont(big);
    noteLabel = new QLabel(this);
    noteLabel->setWordWrap(true);
    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 1);
    progressBar->setValue(0);
    chart = new LinkTestChart(this);
    chart->setMinimumSize(360, 200);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {startButton, stopButton, csvButton, pngButton, closeButton})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* setup = new QVBoxLayout;
    setup->addWidget(roles);
    setup->addWidget(params);
    auto* top = new QHBoxLayout;
    top->addLayout(setup);
    top->addWidget(countersLabel, 1, Qt::AlignTop);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(verdictLabel);
    layout->addWidget(chart, 1);
    layout->addWidget(noteLabel);
    layout->addWidget(progressBar);

    resize(640, 600);

    connect(roleGroup, &QButtonGroup::buttonClicked, this, [this] { updateRole(); });
    connect(sizeBox, &QSpinBox::valueChanged, this, [this] { updateInterval(); });
    connect(intervalBox, &QDoubleSpinBox::valueChanged, this, [this] {
        if (!settingInterval_)
            intervalEdited_ = true;
    });
    connect(startButton, &QPushButton::clicked, this, &LinkTestWindow::startTest);
    connect(stopButton, &QPushButton::clicked, this, &LinkTestWindow::stopTest);
    connect(csvButton, &QPushButton::clicked, this, &LinkTestWindow::exportCsv);
    connect(pngButton, &QPushButton::clicked, this, &LinkTestWindow::exportPng);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    connect(test_, &LinkTest::progress, this, [this](int done, int total) {
        progressBar->setRange(0, qMax(1, total));
        progressBar->setValue(qMin(done, qMax(1, total)));
        chart->setCount(total);
        if (receiveRole->isChecked() || echoRole->isChecked())
            noteLabel->clear(); // no longer waiting for the far station
        else
            showCounts();
    });
    connect(test_, &LinkTest::sample, this, [this](int seq, double windowPer, double rttMs) {
        samples_.append({seq, windowPer * 100, rttMs});
        chart->addSample(seq, windowPer * 100, rttMs);
    });
    connect(test_, &LinkTest::countsChanged, this, &LinkTestWindow::showCounts);
    connect(test_, &LinkTest::finished, this, &LinkTestWindow::finished);
}

LinkTestWindow::~LinkTestWindow() {
    ctx_.windowOpen.linkTestWindowOpen = false;
}

void LinkTestWindow::Form_Load() {
    ctx_.windowOpen.linkTestWindowOpen = true;
    updateInterval();
    updateRole();
    showCounts();
    sendRole->setFocus(); // the arrows choose the role, Tab goes on to the numbers
}

void LinkTestWindow::updateInterval() {
    if (intervalEdited_)
        return;
    settingInterval_ = true;
    intervalBox->setValue(LinkTest::defaultIntervalMs(sizeBox->value(), ctx_.MSComm1().Settings()));
    settingInterval_ = false;
}

void LinkTestWindow::updateRole() {
    const bool sending = sendRole->isChecked();
    countBox->setEnabled(sending);
    sizeBox->setEnabled(sending);
    intervalBox->setEnabled(sending);
    expectEchoBox->setEnabled(sending);
    thresholdBox->setEnabled(!echoRole->isChecked());
}

ResultsDatabase* LinkTestWindow::database(QString* error) {
    if (db_ && db_->isOpen())
        return db_.get();
    db_ = OpenResultsDatabase(ctx_.store(), error);
    return db_.get();
}

void LinkTestWindow::startTest() {
    // A result that cannot be stored is worth nothing: no database, no test.
    QString error;
    if (!database(&error)) {
        ctx_.dialogs().message(QStringLiteral("记录数据库不可用,不能测试\n") + error,
                               QStringLiteral("链路测试"), UserDialogs::Icon::Exclamation);
        return;
    }
    if (!intervalEdited_)
        updateInterval(); // the port's rate may have changed since
    LinkTest::Config config;
    config.role = sendRole->isChecked()      ? LinkTestRole::Send
                  : receiveRole->isChecked() ? LinkTestRole::Receive
                                             : LinkTestRole::Echo;
    config.count = countBox->value();
    config.size = sizeBox->value();
    config.intervalMs = intervalBox->value();
    config.maxPerPercent = thresholdBox->value();
    config.expectEcho = expectEchoBox->isChecked();
    samples_.clear();
    chart->clear(config.role == LinkTestRole::Send ? config.count : 100);
    if (!test_->start(config, &error)) {
        ctx_.dialogs().message(error, QStringLiteral("链路测试"), UserDialogs::Icon::Exclamation);
        return;
    }
    last_.reset();
    lastRecorded_ = false;
    verdictLabel->setText(QStringLiteral("测试中..."));
    verdictLabel->setStyleSheet({});
    noteLabel->setText(config.role == LinkTestRole::Receive ? QStringLiteral("等待对端发送...")
                                                            : QString());
    progressBar->setRange(0, config.role == LinkTestRole::Send ? config.count : 1);
    progressBar->setValue(0);
    for (QWidget* w : std::initializer_list<QWidget*>{startButton, csvButton, pngButton, sendRole,
                                                      receiveRole, echoRole})
        w->setEnabled(false);
    stopButton->setEnabled(true);
    showCounts();
}

void LinkTestWindow::stopTest() {
    test_->stop();
}

void LinkTestWindow::showCounts() {
    const LinkTestResult r = last_ ? *last_ : test_->snapshot();
    const bool sender = r.role == LinkTestRole::Send;
    QStringList lines;
    if (r.role != LinkTestRole::Receive)
        lines << QStringLiteral("已发送: %1").arg(r.sent);
    if (!sender || r.echo) {
        lines << QStringLiteral("总包数: %1").arg(r.total)
              << QStringLiteral("正确接收: %1").arg(r.received)
              << QStringLiteral("损坏: %1").arg(r.corrupted)
              << QStringLiteral("丢失: %1").arg(r.lost)
              << QStringLiteral("重复: %1").arg(r.duplicated)
              << QStringLiteral("乱序: %1").arg(r.outOfOrder)
              << QStringLiteral("误包率: %1%").arg(number(r.per * 100));
    }
    if (r.echo)
        lines << QStringLiteral("往返时间(ms): 最小 %1 平均 %2 最大 %3")
                     .arg(optionalMs(r.rttMinMs), optionalMs(r.rttMeanMs), optionalMs(r.rttMaxMs));
    countersLabel->setText(lines.join(QLatin1Char('\n')));
}

void LinkTestWindow::finished(const LinkTestResult& result) {
    last_ = result;
    LinkTestRecord record;
    record.result = result;
    record.station = QSysInfo::machineHostName();
    record.port = QStringLiteral("COM%1").arg(ctx_.MSComm1().CommPort());
    record.localSettings = ModuleSettingsJson(ctx_.session().params);
    // The result is stored before it is shown; one that cannot be stored counts for
    // nothing.
    QString error;
    ResultsDatabase* db = database(&error);
    lastRecorded_ = db && db->recordLinkTest(record, &error);

    for (QWidget* w : std::initializer_list<QWidget*>{startButton, csvButton, pngButton, sendRole,
                                                      receiveRole, echoRole})
        w->setEnabled(true);
    stopButton->setEnabled(false);
    updateRole();
    showCounts();

    QStringList notes;
    if (result.cutShort)
        notes << QStringLiteral("测试中断(%1),结果为中断前的计数").arg(result.cutReason);
    if (result.echo)
        notes << QStringLiteral("回环测试: 丢包和损坏是两个方向的合计,无法区分是哪个方向");
    if (result.role == LinkTestRole::Send && !result.echo && !result.cutShort)
        notes << QStringLiteral("发送完毕,结果见接收端");
    noteLabel->setText(notes.join(QLatin1Char('\n')));

    if (!lastRecorded_) {
        verdictLabel->setText(QStringLiteral("记录失败,本次测试无效"));
        verdictLabel->setStyleSheet(QStringLiteral("color: #c00000"));
        noteLabel->setText(noteLabel->text() + QLatin1Char('\n') + error);
        return;
    }
    switch (result.verdict) {
    case LinkTestResult::Verdict::Pass:
        verdictLabel->setText(QStringLiteral("合格"));
        verdictLabel->setStyleSheet(QStringLiteral("color: #008000"));
        break;
    case LinkTestResult::Verdict::Fail:
        verdictLabel->setText(QStringLiteral("不合格"));
        verdictLabel->setStyleSheet(QStringLiteral("color: #c00000"));
        break;
    case LinkTestResult::Verdict::None:
        verdictLabel->setText(QStringLiteral("发送完毕"));
        verdictLabel->setStyleSheet({});
        break;
    }
}

void LinkTestWindow::exportCsv() {
    if (!last_)
        return;
    const QString path =
        ctx_.dialogs().saveFileName(QStringLiteral("导出CSV"), QStringLiteral("CSV 文件 (*.csv)"),
                                    QStringLiteral("linktest.csv"));
    if (path.isEmpty())
        return;
    const LinkTestResult& r = *last_;
    const char* roles[] = {"send", "receive", "echo"};
    QString text = QStringLiteral(
        "started_at,finished_at,role,echo,count,size,interval_ms,sent,received,corrupted,lost,"
        "duplicated,out_of_order,per,rtt_min_ms,rtt_mean_ms,rtt_max_ms,max_per,result,"
        "cut_short\r\n");
    const auto opt = [](const std::optional<double>& v) {
        return v ? QString::number(*v, 'f', 3) : QString();
    };
    text += QStringList{IsoUtc(r.startedAt),
                        IsoUtc(r.finishedAt),
                        QString::fromLatin1(roles[int(r.role)]),
                        QString::number(r.echo ? 1 : 0),
                        QString::number(r.count),
                        QString::number(r.size),
                        QString::number(r.intervalMs, 'f', 3),
                        QString::number(r.sent),
                        QString::number(r.received),
                        QString::number(r.corrupted),
                        QString::number(r.lost),
                        QString::number(r.duplicated),
                        QString::number(r.outOfOrder),
                        QString::number(r.per, 'f', 6),
                        opt(r.rttMinMs),
                        opt(r.rttMeanMs),
                        opt(r.rttMaxMs),
                        QString::number(r.maxPerPercent, 'f', 3),
                        r.verdictText(),
                        QString::number(r.cutShort ? 1 : 0)}
                .join(QLatin1Char(',')) +
            QStringLiteral("\r\n\r\nseq,per_window_percent,rtt_ms\r\n");
    for (const Sample& s : samples_)
        text += QStringLiteral("%1,%2,%3\r\n")
                    .arg(s.seq)
                    .arg(s.perPercent, 0, 'f', 2)
                    .arg(s.rttMs >= 0 ? QString::number(s.rttMs, 'f', 3) : QString());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QByteArray("\xEF\xBB\xBF") + text.toUtf8()) < 0 || !file.commit())
        ctx_.dialogs().message(QStringLiteral("无法写入文件 %1:%2").arg(path, file.errorString()),
                               QStringLiteral("导出CSV"), UserDialogs::Icon::Exclamation);
}

void LinkTestWindow::exportPng() {
    const QString path =
        ctx_.dialogs().saveFileName(QStringLiteral("导出图片"), QStringLiteral("PNG 图片 (*.png)"),
                                    QStringLiteral("linktest.png"));
    if (path.isEmpty())
        return;
    if (!chart->savePng(path))
        ctx_.dialogs().message(QStringLiteral("无法写入文件 %1").arg(path),
                               QStringLiteral("导出图片"), UserDialogs::Icon::Exclamation);
}

void LinkTestWindow::closeEvent(QCloseEvent* event) {
    // A test closed half way is recorded as far as it came.
    test_->stop();
    ctx_.windowOpen.linkTestWindowOpen = false;
    event->accept();
}
