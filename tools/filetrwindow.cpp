#include "tools/filetrwindow.h"

#include "protocol/frames.h"

#include "app/appcontext.h"
#include "link/commcontrol.h"
#include "link/pacedsender.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <utility>

namespace {
constexpr int kMaxNameBytes = 255;
constexpr int kPauseMs = 1000;
constexpr int kDtrRestoreMs = 50;
constexpr int kResultShownMs = 5000;
const QString kNoValue = QStringLiteral("******");
const QString kProgressCaption = QStringLiteral("文件传输进度");
} // namespace

FileTrWindow::FileTrWindow(AppContext& ctx)
    : QWidget(ctx.mainWidget(), Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                                    Qt::WindowCloseButtonHint),
      ctx_(ctx) {
    setObjectName(QStringLiteral("filetr"));
    setWindowTitle(QStringLiteral("文件发送"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    // Modal without a nested event loop: the window is shown and the loop runs on.
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(twips(5700), twips(3720));

    QPalette darkGreen = palette();
    darkGreen.setColor(QPalette::WindowText, QColor(0, 128, 0));
    darkGreen.setColor(QPalette::Text, QColor(0, 128, 0));
    const auto label = [this](const QString& text, int left, int top, int width) {
        auto* l = new QLabel(text, this);
        l->setGeometry(left, top, width, 20);
        return l;
    };

    Text1 = new QLineEdit(kNoValue, this);
    Text1->setReadOnly(true); // every key typed into it is discarded
    Text1->setPalette(darkGreen);
    Text1->setGeometry(12, 14, 270, 24);
    Command4 = new QPushButton(QStringLiteral("浏览"), this);
    Command4->setGeometry(292, 12, 76, 28);

    Label5 = label(QStringLiteral("文件长度"), 24, 56, 80);
    Label6 = label(kNoValue, 110, 56, 110);
    Label6->setPalette(darkGreen);
    Label9 = label(QStringLiteral("字节 "), 224, 56, 50);
    Label7 = label(QStringLiteral("已传输字节"), 24, 84, 80);
    Label8 = label(kNoValue, 110, 84, 110);
    Label8->setPalette(darkGreen);
    Label10 = label(QStringLiteral("字节"), 224, 84, 50);

    PBar1 = new QProgressBar(this);
    PBar1->setGeometry(12, 120, 356, 22);
    PBar1->setTextVisible(false);
    Label1 = new QLabel(this);
    Label1->setAlignment(Qt::AlignCenter);

    Command5 = new QPushButton(QStringLiteral("开始传输"), this);
    Command5->setGeometry(60, 168, 110, 30);
    Command6 = new QPushButton(QStringLiteral("停止传输"), this);
    Command6->setGeometry(210, 168, 110, 30);

    connect(Command4, &QPushButton::clicked, this, &FileTrWindow::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &FileTrWindow::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &FileTrWindow::Command6_Click);

    Timer1.setSingleShot(true);
    Timer1.setInterval(kResultShownMs);
    connect(&Timer1, &QTimer::timeout, this, [this] { Label1->setText(kProgressCaption); });
    // Precise, so that the data never follows the header sooner than a second.
    Timer2.setSingleShot(true);
    Timer2.setTimerType(Qt::PreciseTimer);
    Timer2.setInterval(kPauseMs);
    connect(&Timer2, &QTimer::timeout, this, &FileTrWindow::Timer2_Timer);
    Timer3.setSingleShot(true);
    Timer3.setTimerType(Qt::PreciseTimer);
    Timer3.setInterval(kDtrRestoreMs);
    connect(&Timer3, &QTimer::timeout, this, &FileTrWindow::Timer3_Timer);

    CommControl& comm = ctx_.MSComm1();
    connect(&comm, &CommControl::OutputDrained, this, [this] {
        if (phase_ == Phase::Header && ctx_.MSComm1().OutBufferCount() == 0)
            headerLeft();
    });
    // Connected before the sender exists, so that a lost port is known here by the time
    // the sender reports its failure.
    connect(&comm, &CommControl::portLost, this, &FileTrWindow::portLost);
    sender_ = new PacedSender(comm, CommControl::DtrUser::FileSend, kDtrRestoreMs, this);
    connect(sender_, &PacedSender::progress, this, [this](qint64 sent) {
        Label8->setText(QString::number(sent));
        PBar1->setValue(int(sent));
    });
    connect(sender_, &PacedSender::finished, this,
            [this] { endSend(sender_->sent() == FileData.size()); });
    connect(sender_, &PacedSender::stopped, this,
            [this] { endSend(sender_->sent() == FileData.size()); });
    connect(sender_, &PacedSender::failed, this, &FileTrWindow::senderFailed);
}

FileTrWindow::~FileTrWindow() {
    // A window being taken apart hears nothing more from the line: giving DTR back below
    // may be what finds the line gone.
    disconnect(&ctx_.MSComm1(), nullptr, this, nullptr);
    // Unloaded at program end in the middle of a send: DTR must not stay held off. The
    // sender gives back its own hold (now, while this window is whole); the header and
    // the pause are ours.
    disconnect(sender_, nullptr, this, nullptr);
    delete std::exchange(sender_, nullptr);
    if (phase_ == Phase::Header || phase_ == Phase::Pause || phase_ == Phase::Restoring)
        ctx_.MSComm1().releaseDtr(CommControl::DtrUser::FileSend);
}

void FileTrWindow::Form_Load() {
    Label1->setGeometry(PBar1->geometry());
    Label1->setText(kProgressCaption);
    PBar1->hide();
    FileSendStop = false;
    comd(true);
}

void FileTrWindow::showModal() {
    show();
    raise();
    activateWindow();
}

QByteArray FileTrWindow::EncodeFileLength(quint32 length) {
    return t83::EncodeFileLength(length);
}

QByteArray FileTrWindow::FileHeader(const QByteArray& nameBytes, quint32 length) {
    return t83::FileHeaderFrame(nameBytes, length);
}

void FileTrWindow::comd(bool idle) {
    Command4->setEnabled(idle);
    Command5->setEnabled(idle && fileChosen_);
    Command6->setEnabled(!idle);
}

void FileTrWindow::clearChoice() {
    fileChosen_ = false;
    FilePath.clear();
    nameBytes_.clear();
    FileLength = 0;
    Text1->setText(kNoValue);
    Text1->setToolTip(QString());
    Label6->setText(kNoValue);
    Label8->setText(kNoValue);
    Command5->setEnabled(false);
}

void FileTrWindow::Command4_Click() {
    if (busy())
        return;
    const QString path = ctx_.dialogs().openFileName(QStringLiteral("打开准备发送的文件"),
                                                     QStringLiteral("所有文件 (*)"));
    if (path.isEmpty()) {
        clearChoice(); // cancelled
        return;
    }
    // The count of the last send stays until a file is refused.
    const QString lastSent = Label8->text();
    clearChoice();
    Label8->setText(lastSent);
    Text1->setText(path);
    Text1->setToolTip(path);

    // The header gives the name one byte for its length.
    const QByteArray name = CommControl::toAnsi(QFileInfo(path).fileName());
    if (name.size() > kMaxNameBytes) {
        tell(QStringLiteral("文件名太长(%1字节),文件名最多只能有%2字节,无法发送。"
                            "请选择其它文件或把文件改名。")
                 .arg(name.size())
                 .arg(kMaxNameBytes));
        clearChoice();
        return;
    }
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        tell(QStringLiteral("无法读取文件 %1,请选择其它文件。").arg(path));
        clearChoice();
        return;
    }
    const qint64 length = info.size();
    if (length > kMaxFileLength) {
        tell(QStringLiteral("请选择其它文件,文件大小不能超过1M字节"));
        clearChoice();
        return;
    }
    if (length == 0) {
        tell(QStringLiteral("请选择其它文件，此文件无数据!"));
        clearChoice();
        return;
    }
    FilePath = path;
    nameBytes_ = name;
    FileLength = length;
    fileChosen_ = true;
    Label6->setText(QString::number(length));
    PBar1->setMaximum(int(length));
    Command5->setEnabled(true);
}

void FileTrWindow::Command5_Click() {
    if (busy() || !fileChosen_)
        return;
    CommControl& comm = ctx_.MSComm1();
    if (!comm.PortOpen()) {
        tell(QStringLiteral("串口未打开,文件没有发送。请先在\"串口设置\"中打开串口。"));
        return;
    }
    // What is sent is what the file holds now; it may have changed since it was chosen.
    QFile file(FilePath);
    QByteArray data;
    QString fault;
    if (!file.open(QIODevice::ReadOnly))
        fault = QStringLiteral("无法读取文件 %1(%2)").arg(FilePath, file.errorString());
    else {
        data = file.read(kMaxFileLength + 1);
        if (file.error() != QFileDevice::NoError)
            fault = QStringLiteral("无法读取文件 %1(%2)").arg(FilePath, file.errorString());
        else if (data.isEmpty())
            fault = QStringLiteral("文件 %1 现在没有数据").arg(FilePath);
        else if (data.size() > kMaxFileLength)
            fault = QStringLiteral("文件 %1 现在超过1M字节").arg(FilePath);
    }
    if (!fault.isEmpty()) {
        tell(fault + QStringLiteral(",文件没有发送。请重新选择文件。"));
        clearChoice();
        return;
    }
    FileData = data;
    FileLength = data.size();
    Label6->setText(QString::number(FileLength));
    PBar1->setMaximum(int(FileLength));

    FileSendStop = false;
    lost_ = false;
    comd(false);
    Label1->hide();
    PBar1->setValue(0);
    PBar1->show();
    Label8->setText(QStringLiteral("0"));

    comm.holdDtrOff(CommControl::DtrUser::FileSend);
    phase_ = Phase::Header;
    if (!comm.Output(FileHeader(nameBytes_, quint32(FileLength)))) {
        comm.releaseDtr(CommControl::DtrUser::FileSend);
        endSend(false);
        tell(QStringLiteral("串口写入失败,文件没有发送。"));
        return;
    }
    // The pause counts from the moment the header has left, not from its writing (at
    // a low rate the longest header takes over two seconds).
    if (comm.OutBufferCount() == 0)
        headerLeft();
}

void FileTrWindow::headerLeft() {
    phase_ = Phase::Pause;
    Timer2.start();
}

void FileTrWindow::Timer2_Timer() {
    if (phase_ != Phase::Pause)
        return;
    phase_ = Phase::Data;
    if (!sender_->start(FileData)) {
        // The port closed during the pause, or it no longer takes bytes.
        CommControl& comm = ctx_.MSComm1();
        comm.releaseDtr(CommControl::DtrUser::FileSend);
        endSend(false);
        tell(comm.PortOpen() ? QStringLiteral("文件传输被中断(串口写入失败，发送中断)。")
                             : QStringLiteral("串口已关闭,文件传输被中断。"));
    }
}

void FileTrWindow::Command6_Click() {
    FileSendStop = true;
    switch (phase_) {
    case Phase::Header:
    case Phase::Pause:
        // No data byte goes out; what is left of the header is dropped rather than let
        // out once DTR is back on, where the module would take it for a command.
        Timer2.stop();
        ctx_.MSComm1().ClearOutBuffer();
        phase_ = Phase::Restoring;
        Timer3.start();
        Command6->setEnabled(false);
        break;
    case Phase::Data:
        sender_->stop();
        Command6->setEnabled(false);
        break;
    case Phase::Idle:
    case Phase::Restoring:
        break;
    }
}

void FileTrWindow::Timer3_Timer() {
    if (phase_ != Phase::Restoring)
        return;
    ctx_.MSComm1().releaseDtr(CommControl::DtrUser::FileSend);
    endSend(false);
}

void FileTrWindow::endSend(bool completed) {
    phase_ = Phase::Idle;
    PBar1->setValue(0);
    PBar1->hide();
    Label1->setText(completed ? QStringLiteral("文件已经传输完毕")
                              : QStringLiteral("文件传输被中断"));
    Label1->show();
    Timer1.start();
    comd(true);
    if (closePending_ && !isVisible())
        deleteLater();
}

void FileTrWindow::portLost() {
    if (!busy())
        return;
    lost_ = true;
    // The data phase ends through the sender's own report; before it the send is ours.
    if (phase_ == Phase::Header || phase_ == Phase::Pause) {
        Timer2.stop();
        ctx_.MSComm1().releaseDtr(CommControl::DtrUser::FileSend);
        endSend(false);
    }
}

void FileTrWindow::senderFailed(const QString& reason) {
    endSend(false);
    // A lost port is reported to the user by the program already.
    if (!lost_)
        tell(QStringLiteral("文件传输被中断(%1)。").arg(reason));
}

void FileTrWindow::tell(const QString& text) {
    ctx_.dialogs().message(text, QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
}

void FileTrWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    closePending_ = false;
    // Message boxes and the file dialog belong above this window, which stays on top.
    ctx_.dialogs().setParentWidget(this);
}

void FileTrWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    ctx_.dialogs().setParentWidget(ctx_.mainWidget());
}

void FileTrWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!busy()) {
        deleteLater();
        return;
    }
    // Unloaded once the stop has run its course and DTR is back on.
    closePending_ = true;
    Command6_Click();
}
