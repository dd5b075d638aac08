#include "cli/filecommands.h"

#include "cli/exitcodes.h"
#include "cli/outfile.h"
#include "cli/text.h"
#include "link/pacedsender.h"
#include "protocol/frames.h"
#include "serial/serialsettings.h"

#include <QFile>
#include <QFileInfo>
#include <climits>
#include <unistd.h>

namespace {
constexpr int kMaxNameBytes = 255;
} // namespace

SendFileCommand::SendFileCommand(const CliOptions& options, QObject* parent)
    : Command(parent), options_(options), port_(store_) {
    pause_.setSingleShot(true);
    pause_.setInterval(kPauseMs);
    connect(&pause_, &QTimer::timeout, this, &SendFileCommand::startData);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        PrintErr(Say(QStringLiteral("串口不再发送数据,文件传输被中断。\n"),
                     QStringLiteral("the line stopped taking data; the transfer was cut off\n")));
        finish(exitcode::NoAnswer);
    });
    connect(&port_, &CliPort::lost, this, [this](const QString& message) {
        PrintErr(message + QLatin1Char('\n'));
        finish(exitcode::Port);
    });
}

void SendFileCommand::start() {
    const QString path = options_.arguments.value(0);
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        PrintErr(
            Say(QStringLiteral("无法读取文件 %1\n"), QStringLiteral("cannot read %1\n")).arg(path));
        finish(exitcode::Usage);
        return;
    }
    data_ = file.readAll();
    const QByteArray name = CommControl::toAnsi(QFileInfo(path).fileName());
    if (name.size() > kMaxNameBytes || data_.size() > qint64(0xFFFFFFFFu)) {
        PrintErr(Say(QStringLiteral("文件名太长(%1字节),文件名最多只能有%2字节,无法发送。\n"),
                     QStringLiteral("the file name is too long (%1 bytes, at most %2)\n"))
                     .arg(name.size())
                     .arg(kMaxNameBytes));
        finish(exitcode::Usage);
        return;
    }
    QString error;
    if (const auto status = port_.open(options_.port, options_.rate, &error)) {
        PrintErr(error + QLatin1Char('\n'));
        finish(*status);
        return;
    }
    CommControl& comm = port_.comm();
    sender_ = new PacedSender(comm, CommControl::DtrUser::FileSend, kDtrRestoreMs, this);
    connect(sender_, &PacedSender::progress, this,
            [this](qint64 sent) { showProgress(sent, false); });
    connect(sender_, &PacedSender::finished, this, [this] {
        showProgress(sender_->sent(), true);
        finish(exitcode::Ok);
    });
    connect(sender_, &PacedSender::failed, this, [this](const QString& reason) {
        PrintErr(Say(QStringLiteral("文件传输被中断(%1)。\n"),
                     QStringLiteral("the transfer was cut off (%1)\n"))
                     .arg(reason));
        finish(exitcode::Port);
    });
    // The pause counts from the moment the header has left the machine.
    connect(&comm, &CommControl::OutputDrained, this, [this] {
        if (sender_ && headerSent_ && !pause_.isActive() && !sender_->busy())
            pause_.start();
    });
    // Twice the line's own time for header and data, the pause and ten seconds more.
    const auto settings = SerialSettings::parse(comm.Settings());
    const qint64 lineUs = (data_.size() + name.size() + 7) * settings->characterTimeUs();
    deadline_.start(int(std::min<qint64>(2 * lineUs / 1000 + kPauseMs + 10000, INT_MAX)));
    comm.holdDtrOff(CommControl::DtrUser::FileSend);
    headerSent_ = true;
    if (!comm.Output(t83::FileHeaderFrame(name, quint32(data_.size())))) {
        PrintErr(Say(QStringLiteral("串口写入失败,文件没有发送。\n"),
                     QStringLiteral("the port refused the write; nothing was sent\n")));
        finish(exitcode::Port);
        return;
    }
    if (comm.OutBufferCount() == 0)
        pause_.start();
}

void SendFileCommand::startData() {
    headerSent_ = false;
    if (data_.isEmpty()) {
        finish(exitcode::Ok);
        return;
    }
    if (!sender_->start(data_)) {
        PrintErr(Say(QStringLiteral("串口已关闭,文件传输被中断。\n"),
                     QStringLiteral("the port closed; the transfer was cut off\n")));
        finish(exitcode::Port);
    }
}

void SendFileCommand::showProgress(qint64 sent, bool last) {
    if (!::isatty(STDERR_FILENO))
        return;
    progressShown_ = true;
    PrintErr(QStringLiteral("\r%1 / %2").arg(sent).arg(data_.size()) +
             (last ? QStringLiteral("\n") : QString()));
}

void SendFileCommand::cleanup() {
    pause_.stop();
    deadline_.stop();
    if (progressShown_ && ::isatty(STDERR_FILENO))
        PrintErr(QStringLiteral("\n"));
    progressShown_ = false;
    // Nothing more goes out: what waits is dropped, then DTR comes back and the port
    // closes.
    delete std::exchange(sender_, nullptr);
    if (port_.isOpen())
        port_.comm().ClearOutBuffer();
    port_.close();
}

CaptureCommand::CaptureCommand(const CliOptions& options, QObject* parent)
    : Command(parent), options_(options), port_(store_) {
    wait_.setSingleShot(true);
    wait_.setInterval(options.timeoutS * 1000);
    silence_.setSingleShot(true);
    silence_.setInterval(kSilenceMs);
    connect(&wait_, &QTimer::timeout, this, [this] {
        PrintErr(Say(QStringLiteral("%1 秒内没有收到文件。\n"),
                     QStringLiteral("no file arrived within %1 s\n"))
                     .arg(options_.timeoutS));
        finish(exitcode::NoAnswer);
    });
    connect(&silence_, &QTimer::timeout, this, [this] {
        keepPartial(exitcode::NoAnswer,
                    Say(QStringLiteral("文件接收超时!"), QStringLiteral("the file timed out")));
    });
    connect(&port_, &CliPort::lost, this, [this](const QString& message) {
        PrintErr(message + QLatin1Char('\n'));
        keepPartial(exitcode::Port, {});
    });
    CapturePath& capture = port_.session().capture();
    connect(&capture, &CapturePath::markerRead, this, [this] {
        wait_.stop();
        silence_.start();
    });
    connect(&port_.comm(), &CommControl::bytesArrived, this, [this] {
        if (silence_.isActive())
            silence_.start();
    });
    connect(&capture, &CapturePath::fileComplete, this, &CaptureCommand::fileComplete);
    connect(&capture, &CapturePath::overflow, this, [this] {
        keepPartial(exitcode::Fail, Say(QStringLiteral("接收的数据超过了缓冲区的容量(%1字节)"),
                                        QStringLiteral("the file is larger than %1 bytes"))
                                        .arg(CapturePath::kBufferSize));
    });
    connect(&capture, &CapturePath::badHeader, this, [this] {
        PrintErr(Say(QStringLiteral("收到数据不符合协议!\n"),
                     QStringLiteral("the data received is not a file\n")));
        finish(exitcode::Fail);
    });
}

void CaptureCommand::start() {
    QString error;
    if (const auto status = port_.open(options_.port, options_.rate, &error)) {
        PrintErr(error + QLatin1Char('\n'));
        finish(*status);
        return;
    }
    port_.session().capture().reset();
    port_.session().setCaptureOpen(true);
    wait_.start();
}

void CaptureCommand::fileComplete() {
    const CapturePath& capture = port_.session().capture();
    QString error;
    if (!WriteOutFile(options_.out, capture.CaptureBuffer.left(capture.CaptureCount), &error)) {
        PrintErr(Say(QStringLiteral("无法保存文件 %1:%2\n"), QStringLiteral("cannot save %1: %2\n"))
                     .arg(options_.out, error));
        finish(exitcode::Usage);
        return;
    }
    PrintErr(Say(QStringLiteral("文件接收完毕: %1, %2 字节\n"),
                 QStringLiteral("received %1, %2 bytes\n"))
                 .arg(capture.CaptureName)
                 .arg(capture.CaptureCount));
    finish(exitcode::Ok);
}

void CaptureCommand::keepPartial(int status, const QString& why) {
    if (finished())
        return;
    CapturePath& capture = port_.session().capture();
    const qint32 count = capture.CaptureCount;
    const bool data = capture.CaptureState >= 3 && count > 0;
    if (!why.isEmpty())
        PrintErr(why + QLatin1Char('\n'));
    if (data) {
        const QString partial = options_.out + QStringLiteral(".partial");
        QString error;
        if (WriteOutFile(partial, capture.CaptureBuffer.left(count), &error))
            PrintErr(Say(QStringLiteral("文件不完整: 已接收 %1 / %2 字节,保存为 %3\n"),
                         QStringLiteral("incomplete: %1 of %2 bytes, saved as %3\n"))
                         .arg(count)
                         .arg(capture.CaptureLength)
                         .arg(partial));
    }
    finish(status);
}

void CaptureCommand::cleanup() {
    wait_.stop();
    silence_.stop();
    if (port_.session().captureOpen())
        port_.session().setCaptureOpen(false);
    port_.close();
}
