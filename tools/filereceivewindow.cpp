#include "tools/filereceivewindow.h"

#include "app/appcontext.h"
#include "link/capturepath.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>

#include <algorithm>
#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
const QString kNone = QStringLiteral("******");
const QString kTitle = QStringLiteral("提示");
const QString kIdleCaption = QStringLiteral("文件接收进度");
const QColor kDarkGreen(0, 128, 0);

// Writes `bytes` into an existing node that is not a regular file (a device, a pipe) in
// place; `error` says why when it fails.
bool writeInto(const QString& path, const QByteArray& bytes, QString& error) {
    QFile file;
#ifdef Q_OS_UNIX
    // Opened without waiting: a pipe that nobody reads fails at once instead of holding
    // up the program. Once open it is written as any file is.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = qt_error_string(errno);
        return false;
    }
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
#else
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
#endif
    const bool written = file.write(bytes) == bytes.size();
    if (!written)
        error = file.errorString();
    file.close();
    if (written && file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    return written;
}
} // namespace

QString ProposedSaveName(const QString& received) {
    QString name;
    for (QChar c : received)
        if (c.category() != QChar::Other_Control)
            name += c;
    const qsizetype cut =
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    name = name.mid(cut + 1);
    name.remove(QStringLiteral(".."));
    return name.trimmed();
}

FileReceiveWindow::FileReceiveWindow(AppContext& ctx)
    : QWidget(ctx.mainWidget(), Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                                    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ctx_(ctx) {
    setObjectName(QStringLiteral("filereceve"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Modal without a loop of its own: the program's event loop keeps running the link.
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(QStringLiteral("文件捕捉"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));

    Label1 = new QLabel(QStringLiteral("文件名称"), this);
    Text1 = new QLineEdit(kNone, this);
    Text1->setReadOnly(true);
    Text1->setEnabled(false); // shows the name; takes no keys
    QPalette green = Text1->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        green.setColor(group, QPalette::Text, kDarkGreen);
    Text1->setPalette(green);
    Label3 = new QLabel(QStringLiteral("文件长度"), this);
    Label4 = new QLabel(kNone, this);
    QPalette greenLabel = Label4->palette();
    greenLabel.setColor(QPalette::WindowText, kDarkGreen);
    Label4->setPalette(greenLabel);
    Label5 = new QLabel(QStringLiteral("字节"), this);
    Label6 = new QLabel(QStringLiteral("已经接收"), this);
    Label7 = new QLabel(kNone, this);
    Label8 = new QLabel(QStringLiteral("字节"), this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    Label2 = new QLabel(this);
    Label2->setAlignment(Qt::AlignCenter);
    Command1 = new QPushButton(QStringLiteral("保存"), this);
    Command2 = new QPushButton(QStringLiteral("取消"), this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Text1, 0, 1, 1, 2);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(Label4, 1, 1);
    grid->addWidget(Label5, 1, 2);
    grid->addWidget(Label6, 2, 0);
    grid->addWidget(Label7, 2, 1);
    grid->addWidget(Label8, 2, 2);
    // Label2 lies over the progress bar: one of the two shows.
    grid->addWidget(ProgressBar1, 3, 0, 1, 3);
    grid->addWidget(Label2, 3, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addStretch();
    grid->addLayout(buttons, 4, 0, 1, 3);
    setFixedSize(twips(4800), twips(2800));

    Timer1.setInterval(300);
    Timer1.setSingleShot(true);
    Timer2.setInterval(4000);
    Timer2.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, &FileReceiveWindow::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &FileReceiveWindow::Timer2_Timer);
    connect(Command1, &QPushButton::clicked, this, &FileReceiveWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FileReceiveWindow::Command2_Click);

    CapturePath& capture = ctx_.capture();
    // A header's silence counts from its marker.
    connect(&capture, &CapturePath::markerRead, &Timer1, qOverload<>(&QTimer::start));
    connect(&ctx_.link().MSComm1, &CommControl::bytesArrived, this,
            &FileReceiveWindow::lineBytesArrived);
    connect(&ctx_.link().MSComm1, &CommControl::portLost, this, &FileReceiveWindow::lineLost);
    connect(&capture, &CapturePath::headerStarted, this, &FileReceiveWindow::headerStarted);
    connect(&capture, &CapturePath::headerRead, this, &FileReceiveWindow::headerRead);
    // Every arrival restarts the silence that ends the file.
    connect(&capture, &CapturePath::dataArrived, &Timer1, qOverload<>(&QTimer::start));
    connect(&capture, &CapturePath::progress, this, &FileReceiveWindow::showCount);
    connect(&capture, &CapturePath::fileComplete, this, &FileReceiveWindow::fileComplete);
    connect(&capture, &CapturePath::badHeader, this, &FileReceiveWindow::badHeader);
    connect(&capture, &CapturePath::overflow, this, &FileReceiveWindow::overflow);
}

FileReceiveWindow::~FileReceiveWindow() {
    stopCapture();
    // Unloaded while still shown (at program end): the dialogs must not keep it as
    // their parent.
    if (isVisible())
        ctx_.dialogs().setParentWidget(ctx_.mainWidget());
}

void FileReceiveWindow::Form_Load() {
    Command1->setEnabled(false);
    Label2->setText(kIdleCaption);
    ProgressBar1->hide();
    Label2->show();
    capturing_ = true;
    ctx_.setCaptureOpen(true);
}

void FileReceiveWindow::stopCapture() {
    Timer1.stop();
    if (!capturing_)
        return;
    capturing_ = false;
    ctx_.setCaptureOpen(false);
}

void FileReceiveWindow::lineBytesArrived() {
    if (!capturing_)
        return;
    CapturePath& capture = ctx_.capture();
    if (capture.CaptureState == 1 || capture.CaptureState == 2)
        Timer1.start();
    else
        showWaiting();
}

void FileReceiveWindow::showWaiting() {
    if (capturing_ && ctx_.capture().CaptureState == 4 && ctx_.link().MSComm1.InBufferCount() > 0)
        Label2->setText(QStringLiteral("新数据已到达,保存本文件后接收"));
}

void FileReceiveWindow::headerStarted() {
    Timer2.stop(); // a new file: the bar stays until this one is done
    Label2->setText(kIdleCaption);
    Label2->hide();
    ProgressBar1->show();
}

void FileReceiveWindow::headerRead(const QString& name, quint32 length) {
    // The sender pauses between its header and its data: the silence counts from the
    // first data byte.
    Timer1.stop();
    incomingName_ = name;
    Text1->setText(name);
    Label4->setText(QString::number(length));
    const auto most = static_cast<quint32>(std::numeric_limits<int>::max());
    ProgressBar1->setRange(0, static_cast<int>(std::clamp<quint32>(length, 1, most)));
    ProgressBar1->setValue(0);
}

void FileReceiveWindow::showCount(qint32 count) {
    ProgressBar1->setValue(std::min(count, ProgressBar1->maximum()));
    Label7->setText(QString::number(count));
}

void FileReceiveWindow::notify(const QString& text, UserDialogs::Icon icon,
                               void (FileReceiveWindow::*then)()) {
    QPointer<FileReceiveWindow> self(this);
    ctx_.dialogs().notify(text, kTitle, icon, this, [self, then] {
        if (self)
            (self->*then)();
    });
}

void FileReceiveWindow::keep(qint32 count, bool partial) {
    CapturePath& capture = ctx_.capture();
    completed_ = capture.CaptureBuffer.left(count);
    CaptureSaveCount = count;
    CaptureUnsaved = true;
    partial_ = partial;
    receivedName_ = incomingName_;
    showCount(count);
}

void FileReceiveWindow::offerSave() {
    Command1->setEnabled(true);
    Timer2.start();
}

void FileReceiveWindow::fileComplete() {
    Timer1.stop();
    keep(ctx_.capture().CaptureCount, false);
    ProgressBar1->setValue(0);
    // Save is offered and the 4 s to the idle display start once the message is
    // dismissed: a message left up would otherwise hide the bar before it was seen. The
    // next transfer waits meanwhile.
    notify(QStringLiteral("文件接收完毕!"), UserDialogs::Icon::Information,
           &FileReceiveWindow::offerSave);
    showWaiting();
}

void FileReceiveWindow::badHeader() {
    stopCapture();
    ctx_.capture().drainLeftover();
    notify(QStringLiteral("收到数据不符合协议!"), UserDialogs::Icon::Information,
           &FileReceiveWindow::closeAfterNotice);
}

void FileReceiveWindow::closeAfterNotice() {
    close();
}

void FileReceiveWindow::overflow() {
    // The buffer's end is the file's end; the silence after the rest of its data is
    // waited for quietly.
    keep(ctx_.capture().CaptureCount, true);
    Label2->setText(QStringLiteral("已接收%1字节,超出缓冲区的部分已丢弃").arg(CaptureSaveCount));
    notify(QStringLiteral("接收的数据超过了缓冲区的容量(%1字节),超出的部分已丢弃;"
                          "已经接收的数据仍可保存。")
               .arg(CapturePath::kBufferSize),
           UserDialogs::Icon::Exclamation, &FileReceiveWindow::offerSave);
}

void FileReceiveWindow::Timer1_Timer() {
    Timer1.stop();
    if (!capturing_)
        return;
    CapturePath& capture = ctx_.capture();
    switch (capture.CaptureState) {
    case 1:
    case 2:
        // A header cut short: no file follows it.
        capture.endTransfer();
        stopCapture();
        notify(QStringLiteral("文件接收超时!"), UserDialogs::Icon::Exclamation,
               &FileReceiveWindow::closeAfterNotice);
        break;
    case 3: {
        // Short of the announced length: what came is the file as far as it goes.
        const qint32 count = capture.CaptureCount;
        capture.endTransfer();
        if (capture.CaptureState != 4)
            break;
        keep(count, true);
        Label2->setText(QStringLiteral("文件接收超时,已接收%1字节").arg(count));
        notify(QStringLiteral("文件接收超时!"), UserDialogs::Icon::Exclamation,
               &FileReceiveWindow::offerSave);
        break;
    }
    case 5:
        // The rest of a file past the buffer is over; it was told when the buffer filled.
        capture.endTransfer();
        break;
    default:
        break;
    }
}

void FileReceiveWindow::lineLost() {
    if (!capturing_)
        return;
    Timer1.stop();
    Timer2.stop();
    CapturePath& capture = ctx_.capture();
    const bool taking = capture.CaptureState == 3;
    const qint32 count = capture.CaptureCount;
    capture.endTransfer();
    ProgressBar1->setValue(0);
    ProgressBar1->hide();
    if (taking && capture.CaptureState == 4) {
        // What came before the loss is the file as far as it goes: saveable like a
        // completed one, and asked for on closing.
        keep(count, true);
        Command1->setEnabled(true);
        Label2->setText(QStringLiteral("连接已断开,已接收%1字节").arg(count));
    } else {
        Label2->setText(kIdleCaption);
    }
    Label2->show();
}

void FileReceiveWindow::Timer2_Timer() {
    Timer2.stop();
    ProgressBar1->hide();
    Label2->show();
}

void FileReceiveWindow::Command1_Click() {
    // The far end chose the name: only a plain file name of it is proposed, and the
    // dialog chooses the folder. A file short of its length says so in its name.
    QString proposed = ProposedSaveName(receivedName_);
    if (partial_ && !proposed.isEmpty())
        proposed += QStringLiteral(".part");
    const QString path = ctx_.dialogs().saveFileName(QStringLiteral("保存文件"),
                                                     QStringLiteral("所有文件 (*)"), proposed);
    if (path.isEmpty()) {
        // The received file is given up.
        receivedName_.clear();
        Text1->setText(kNone);
        Label4->setText(kNone);
        Label7->setText(kNone);
        fileDone();
        return;
    }
    if (SaveCapturedFile(path))
        fileDone();
}

void FileReceiveWindow::fileDone() {
    CaptureUnsaved = false;
    // The next transfer, held back meanwhile, is taken now.
    if (capturing_)
        ctx_.capture().release();
}

bool FileReceiveWindow::SaveCapturedFile(const QString& path) {
    const QByteArray bytes = completed_.left(CaptureSaveCount);
    QString error;
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A device or a pipe: written into as it is. A new file renamed over it would
        // replace the node.
        if (writeInto(path, bytes, error))
            return true;
    } else {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
            return true;
        error = file.errorString();
    }
    ctx_.dialogs().message(QStringLiteral("无法保存文件 %1(%2)。").arg(path, error), kTitle,
                           UserDialogs::Icon::Exclamation);
    return false;
}

void FileReceiveWindow::Command2_Click() {
    close();
}

void FileReceiveWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window stays on top: its messages and the save dialog belong above it, or
    // they open beneath it and the window looks frozen.
    ctx_.dialogs().setParentWidget(this);
}

void FileReceiveWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    ctx_.dialogs().setParentWidget(ctx_.mainWidget());
}

void FileReceiveWindow::closeEvent(QCloseEvent* event) {
    bool stay = false;
    if (!ctx_.closingDown && CaptureUnsaved)
        stay = ctx_.dialogs().message(QStringLiteral("接收的文件尚未保存，是否保存?"), kTitle,
                                      UserDialogs::Icon::Information,
                                      UserDialogs::Buttons::OkCancel) == UserDialogs::Answer::Ok;
    // Asked once: the window no longer captures, whatever the answer.
    CaptureUnsaved = false;
    stopCapture();
    if (!stay) {
        event->accept();
        return;
    }
    // Kept open for saving: where the progress stood it says that nothing more is taken.
    event->ignore();
    Timer2.stop();
    ProgressBar1->hide();
    Label2->setText(QStringLiteral("已停止接收,请保存文件后关闭窗口"));
    Label2->show();
}
