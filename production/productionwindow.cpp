#include "production/productionwindow.h"

#include "app/appcontext.h"
#include "app/portcommands.h"
#include "link/modulesession.h"
#include "production/fieldcaption.h"
#include "production/profileeditor.h"
#include "records/openresults.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QSysInfo>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const QString kTitle = QStringLiteral("提示");
const QString kFilter = QStringLiteral("模块配置文件 (*.t83profile)");

} // namespace

ProductionWindow::ProductionWindow(AppContext& ctx) : ctx_(ctx), run_(ctx.session()) {
    setObjectName(QStringLiteral("production"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    connect(&run_, &ProductionRun::stepChanged, stepLabel, &QLabel::setText);
    connect(&run_, &ProductionRun::finished, this, &ProductionWindow::onFinished);
    connect(loadButton, &QPushButton::clicked, this, [this] {
        const QString path = ctx_.dialogs().openFileName(QStringLiteral("载入配置"), kFilter);
        if (!path.isEmpty())
            loadProfile(path);
    });
    connect(saveButton, &QPushButton::clicked, this, &ProductionWindow::saveProfile);
    connect(fromModuleButton, &QPushButton::clicked, this, &ProductionWindow::saveFromModule);
    connect(editButton, &QPushButton::clicked, this, &ProductionWindow::editProfile);
    connect(startButton, &QPushButton::clicked, this, &ProductionWindow::startTest);
    // A scanner types the code and Enter.
    connect(serialBox, &QLineEdit::returnPressed, this, &ProductionWindow::startTest);
    connect(autoBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            swap_ = Swap::Off;
    });

    portReturn_.setInterval(500);
    connect(&portReturn_, &QTimer::timeout, this, &ProductionWindow::tryPortReturn);
    connect(&ctx_.session(), &ModuleSession::lineLost, this, &ProductionWindow::onLineLost);

    swapProbe_.setSingleShot(true);
    swapProbe_.setInterval(500);
    connect(&swapProbe_, &QTimer::timeout, this, [this] {
        if (swap_ == Swap::Off || run_.running())
            return;
        if (!ctx_.MSComm1().PortOpen()) {
            if (portReturn_.isActive())
                return; // the port's return takes the wait on
            stepLabel->setText(QStringLiteral("等待串口重新打开"));
            swapProbe_.start();
            return;
        }
        ctx_.session().probe(false);
    });
    connect(&ctx_.session(), &ModuleSession::answered, this, [this] {
        missedProbes_ = 0;
        if (swap_ == Swap::WaitGone) {
            swapProbe_.start(); // still the module just tested
        } else if (swap_ == Swap::WaitBack) {
            swap_ = Swap::Off;
            startTest();
        }
    });
    connect(&ctx_.session(), &ModuleSession::noAnswer, this, [this] {
        // Gone only when it stays silent: one lost answer is not a swap.
        if (swap_ == Swap::WaitGone && ++missedProbes_ >= 2) {
            swap_ = Swap::WaitBack;
            stepLabel->setText(QStringLiteral("请放入下一个模块"));
        }
        if (swap_ != Swap::Off)
            swapProbe_.start();
    });
}

ProductionWindow::~ProductionWindow() {
    ctx_.windowOpen.productionWindowOpen = false;
}

void ProductionWindow::buildControls() {
    setWindowTitle(QStringLiteral("生产测试"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));

    auto* profileBox = new QGroupBox(QStringLiteral("配置"), this);
    profileLabel = new QLabel(QStringLiteral("未载入配置"), profileBox);
    loadButton = new QPushButton(QStringLiteral("载入"), profileBox);
    saveButton = new QPushButton(QStringLiteral("保存"), profileBox);
    fromModuleButton = new QPushButton(QStringLiteral("从模块保存配置"), profileBox);
    editButton = new QPushButton(QStringLiteral("编辑"), profileBox);
    auto* profileRow = new QHBoxLayout(profileBox);
    profileRow->addWidget(profileLabel, 1);
    for (QPushButton* b : {loadButton, editButton, saveButton, fromModuleButton})
        profileRow->addWidget(b);

    auto* entry = new QGridLayout;
    operatorBox = new QLineEdit(this);
    lotBox = new QLineEdit(this);
    serialBox = new QLineEdit(this);
    startButton = new QPushButton(QStringLiteral("开始"), this);
    autoBox = new QCheckBox(QStringLiteral("自动"), this);
    fastReadBox = new QCheckBox(QStringLiteral("快速读取"), this);
    fastReadBox->setToolTip(
        QStringLiteral("收到模块应答后立即发送下一个读取命令,不再每 100 毫秒一个"));
    entry->addWidget(new QLabel(QStringLiteral("操作员"), this), 0, 0);
    entry->addWidget(operatorBox, 0, 1);
    entry->addWidget(new QLabel(QStringLiteral("批号"), this), 0, 2);
    entry->addWidget(lotBox, 0, 3);
    entry->addWidget(new QLabel(QStringLiteral("模块编号"), this), 1, 0);
    entry->addWidget(serialBox, 1, 1, 1, 3);
    entry->addWidget(startButton, 1, 4);
    entry->addWidget(autoBox, 0, 4);
    entry->addWidget(fastReadBox, 0, 5);

    resultPanel = new QLabel(this);
    resultPanel->setAlignment(Qt::AlignCenter);
    resultPanel->setWordWrap(true);
    resultPanel->setMinimumHeight(90);
    QFont big = resultPanel->font();
    big.setPointSize(26);
    big.setBold(true);
    resultPanel->setFont(big);
    stepLabel = new QLabel(this);

    fieldTable = new QTableWidget(0, 5, this);
    fieldTable->setHorizontalHeaderLabels({QStringLiteral("项目"), QStringLiteral("期望"),
                                           QStringLiteral("测试前"), QStringLiteral("测试后"),
                                           QStringLiteral("结果")});
    fieldTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    fieldTable->horizontalHeader()->setStretchLastSection(true);
    fieldTable->verticalHeader()->hide();
    fieldTable->setEditTriggers(QAbstractItemView::NoEditTriggers);

    countersLabel = new QLabel(this);
    lastResults = new QListWidget(this);
    lastResults->setMaximumHeight(110);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(profileBox);
    layout->addLayout(entry);
    layout->addWidget(resultPanel);
    layout->addWidget(stepLabel);
    layout->addWidget(fieldTable, 1);
    layout->addWidget(countersLabel);
    layout->addWidget(new QLabel(QStringLiteral("最近结果"), this));
    layout->addWidget(lastResults);
    resize(640, 620);
}

void ProductionWindow::Form_Load() {
    ctx_.windowOpen.productionWindowOpen = true;
    openDatabase();
    updateCounters();
    serialBox->setFocus();
}

void ProductionWindow::openDatabase() {
    QString error;
    db_ = OpenResultsDatabase(ctx_.store(), &error);
    if (!db_) {
        // A result that cannot be stored is worse than no test: the station refuses.
        startButton->setEnabled(false);
        showResult(false, QStringLiteral("记录数据库不可用,不能测试\n") + error);
        return;
    }
    startButton->setEnabled(true);
    stepLabel->setText(QStringLiteral("记录保存在 %1").arg(db_->where()));
    resultPanel->clear();
    resultPanel->setStyleSheet({});
}

bool ProductionWindow::loadProfile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ctx_.dialogs().message(
            QStringLiteral("无法读取配置文件 %1:%2").arg(path, file.errorString()), kTitle,
            UserDialogs::Icon::Exclamation);
        return false;
    }
    const QByteArray bytes = file.readAll();
    QString error;
    auto loaded = ModuleProfile::fromJson(bytes, &error);
    if (!loaded) {
        ctx_.dialogs().message(
            QStringLiteral("%1 不是有效的模块配置,没有载入:\n%2").arg(path, error), kTitle,
            UserDialogs::Icon::Exclamation);
        return false;
    }
    if (loaded->name.isEmpty())
        loaded->name = QFileInfo(path).completeBaseName();
    setProfile(std::move(*loaded), bytes, QFileInfo(path).fileName());
    return true;
}

void ProductionWindow::setProfile(ModuleProfile profile, const QByteArray& bytes,
                                  const QString& source) {
    profile_ = std::move(profile);
    profileBytes_ = bytes;
    profileLabel->setText(QStringLiteral("配置: %1 (%2 项设置, %3)")
                              .arg(profile_->name)
                              .arg(profile_->settings.size())
                              .arg(source));
}

ProfileEditor* ProductionWindow::editProfile() {
    auto* editor = new ProfileEditor(profile_.value_or(ModuleProfile{}), ctx_.dialogs(), this);
    connect(editor, &ProfileEditor::accepted, this, [this](const ModuleProfile& edited) {
        // What is tested is recorded by its content: the hash is of the edited profile.
        setProfile(edited, edited.toJson(), QStringLiteral("未保存"));
    });
    // Nothing is edited under a run: the profile a run started with is the one it
    // records.
    connect(&run_, &ProductionRun::stepChanged, editor, [this, editor] {
        if (run_.running())
            editor->okButton->setEnabled(false);
    });
    connect(&run_, &ProductionRun::finished, editor,
            [editor] { editor->okButton->setEnabled(true); });
    editor->okButton->setEnabled(!run_.running());
    editor->show();
    return editor;
}

void ProductionWindow::startTest() {
    if (run_.running())
        return;
    if (!stationReady()) {
        ctx_.dialogs().message(QStringLiteral("记录数据库不可用,不能测试。"), kTitle,
                               UserDialogs::Icon::Exclamation);
        return;
    }
    if (!profile_) {
        ctx_.dialogs().message(QStringLiteral("请先载入模块配置。"), kTitle,
                               UserDialogs::Icon::Exclamation);
        return;
    }
    if (!ctx_.session().PortOpenForUser())
        return;
    swap_ = Swap::Off;
    ctx_.session().setReplyDrivenRead(fastReadBox->isChecked());
    runOperator_ = operatorBox->text().trimmed();
    runLot_ = lotBox->text().trimmed();
    runSerial_ = serialBox->text().trimmed();
    if (!run_.start(*profile_)) {
        ctx_.dialogs().message(QStringLiteral("模块正在读取,请稍后再开始测试。"), kTitle,
                               UserDialogs::Icon::Exclamation);
        return;
    }
    setEntryLocked(true);
    fieldTable->setRowCount(0);
    resultPanel->setStyleSheet({});
    resultPanel->setText(QStringLiteral("测试中"));
}

void ProductionWindow::setEntryLocked(bool locked) {
    for (QLineEdit* box : {operatorBox, lotBox, serialBox})
        box->setReadOnly(locked);
    for (QPushButton* b : {startButton, loadButton, editButton, fromModuleButton})
        b->setEnabled(!locked && (b != startButton || stationReady()));
}

void ProductionWindow::onFinished(const RunResult& result) {
    setEntryLocked(false);
    ctx_.session().setReplyDrivenRead(false); // the other windows keep the timed read
    if (savingFromModule_) {
        savingFromModule_ = false;
        stepLabel->clear();
        if (!result.pass) {
            ctx_.dialogs().message(QStringLiteral("读取模块失败:%1").arg(result.reason), kTitle,
                                   UserDialogs::Icon::Exclamation);
            return;
        }
        ModuleProfile read =
            ModuleProfile::fromModule({}, ctx_.session().params, ctx_.link().parser.PortStateTable);
        const QString path = ctx_.dialogs().saveFileName(QStringLiteral("保存模块配置"), kFilter);
        if (path.isEmpty())
            return;
        read.name = QFileInfo(path).completeBaseName();
        if (writeProfile(path, read))
            loadProfile(path);
        return;
    }
    RunRecord record;
    record.result = result;
    record.station = QSysInfo::machineHostName();
    record.operatorName = runOperator_;
    record.lot = runLot_;
    record.serial = runSerial_;
    record.port = QStringLiteral("COM%1").arg(ctx_.MSComm1().CommPort());
    record.device = ctx_.portMap().deviceFor(ctx_.MSComm1().CommPort());
    record.profileName = profile_ ? profile_->name : QString();
    record.profileSha256 = QString::fromLatin1(
        QCryptographicHash::hash(profileBytes_, QCryptographicHash::Sha256).toHex());
    QString error;
    const std::optional<qint64> id = db_ ? db_->record(record, &error) : std::nullopt;
    showFields(result.fields);
    if (!id) {
        // Not stored: no verdict at all.
        showResult(false, QStringLiteral("记录失败,本次测试无效\n") + error);
        return;
    }
    ++tested;
    if (result.pass)
        ++passed;
    showResult(result.pass,
               result.pass ? QStringLiteral("合格") : QStringLiteral("不合格: ") + result.reason);
    stepLabel->setText(QStringLiteral("用时 %1 秒").arg(result.durationMs / 1000.0, 0, 'f', 1));
    lastResults->insertItem(
        0,
        QStringLiteral("%1  %2  %3")
            .arg(result.finishedAt.toLocalTime().toString(QStringLiteral("HH:mm:ss")),
                 record.serial.isEmpty() ? QStringLiteral("-") : record.serial,
                 result.pass ? QStringLiteral("合格") : QStringLiteral("不合格 ") + result.reason));
    while (lastResults->count() > 20)
        delete lastResults->takeItem(lastResults->count() - 1);
    updateCounters();
    serialBox->clear();
    serialBox->setFocus();
    emit recorded(*id, result.pass);
    if (autoBox->isChecked())
        expectNextModule();
}

void ProductionWindow::showResult(bool pass, const QString& text) {
    resultPanel->setText(text);
    resultPanel->setStyleSheet(pass ? QStringLiteral("background:#1e8e3e; color:white;")
                                    : QStringLiteral("background:#c5221f; color:white;"));
}

void ProductionWindow::showFields(const QList<RunField>& fields) {
    fieldTable->setRowCount(int(fields.size()));
    for (int row = 0; row < fields.size(); ++row) {
        const RunField& f = fields.at(row);
        const QString cells[] = {FieldCaption(f.field), f.expected, f.before, f.after,
                                 f.ok ? QStringLiteral("一致") : QStringLiteral("不符")};
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (!f.ok)
                item->setForeground(QColor(0xC5, 0x22, 0x1F));
            fieldTable->setItem(row, c, item);
        }
    }
}

void ProductionWindow::saveProfile() {
    if (!profile_) {
        ctx_.dialogs().message(QStringLiteral("没有可以保存的配置。"), kTitle,
                               UserDialogs::Icon::Exclamation);
        return;
    }
    const QString path = ctx_.dialogs().saveFileName(
        QStringLiteral("保存配置"), kFilter, profile_->name + QStringLiteral(".t83profile"));
    if (!path.isEmpty() && writeProfile(path, *profile_))
        loadProfile(path);
}

bool ProductionWindow::writeProfile(const QString& path, const ModuleProfile& profile) {
    QSaveFile file(path);
    const QByteArray bytes = profile.toJson();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ctx_.dialogs().message(
            QStringLiteral("无法保存配置文件 %1:%2").arg(path, file.errorString()), kTitle,
            UserDialogs::Icon::Exclamation);
        return false;
    }
    return true;
}

void ProductionWindow::saveFromModule() {
    if (run_.running() || !ctx_.session().PortOpenForUser())
        return;
    swap_ = Swap::Off;
    if (!run_.start(ModuleProfile{}, true)) {
        ctx_.dialogs().message(QStringLiteral("模块正在读取,请稍后再试。"), kTitle,
                               UserDialogs::Icon::Exclamation);
        return;
    }
    savingFromModule_ = true;
    setEntryLocked(true);
    stepLabel->setText(QStringLiteral("读取模块"));
}

void ProductionWindow::expectNextModule() {
    swap_ = Swap::WaitGone;
    missedProbes_ = 0;
    stepLabel->setText(QStringLiteral("请取下已测模块"));
    swapProbe_.start();
}

void ProductionWindow::updateCounters() {
    const int failed = tested - passed;
    countersLabel->setText(
        QStringLiteral("已测 %1    合格 %2    不合格 %3    合格率 %4")
            .arg(tested)
            .arg(passed)
            .arg(failed)
            .arg(tested ? QStringLiteral("%1%").arg(100.0 * passed / tested, 0, 'f', 1)
                        : QStringLiteral("-")));
}

void ProductionWindow::onLineLost() {
    // The run under way has ended "串口断开" already; the station waits for the port to
    // return and, in "自动", for a module to answer on it.
    lostPort_ = ctx_.MSComm1().CommPort();
    lostSettings_ = ctx_.MSComm1().Settings();
    if (swap_ != Swap::Off)
        swap_ = Swap::WaitBack;
    swapProbe_.stop();
    stepLabel->setText(QStringLiteral("串口断开,等待串口恢复"));
    portReturn_.start();
}

void ProductionWindow::tryPortReturn() {
    if (!ReturnLostPort(ctx_, lostPort_, lostSettings_))
        return;
    portReturn_.stop();
    if (swap_ == Swap::Off) {
        stepLabel->setText(QStringLiteral("串口已恢复"));
        return;
    }
    stepLabel->setText(QStringLiteral("串口已恢复,请放入下一个模块"));
    swapProbe_.start();
}

void ProductionWindow::closeEvent(QCloseEvent* event) {
    run_.abort(QStringLiteral("测试被中止"));
    ctx_.session().setReplyDrivenRead(false);
    portReturn_.stop();
    swap_ = Swap::Off;
    ctx_.windowOpen.productionWindowOpen = false;
    event->accept();
}
