#include "link/commcontrol.h"

#include <QStringEncoder>

#include <climits>

namespace {
const char* const kAnsiCodePage = "GBK";

// GBK comes from ICU. A Qt built without it (possible on Windows) falls back to the
// system's ANSI code page, which is GBK on a Chinese Windows.
QStringEncoder ansiEncoder() {
    QStringEncoder encoder(kAnsiCodePage);
    return encoder.isValid() ? std::move(encoder) : QStringEncoder(QStringConverter::System);
}

QStringDecoder ansiDecoder() {
    QStringDecoder decoder(kAnsiCodePage);
    return decoder.isValid() ? std::move(decoder) : QStringDecoder(QStringConverter::System);
}
} // namespace

CommControl::CommControl(PortResolver resolver, SerialBackendFactory factory, QObject* parent)
    : QObject(parent), resolver_(std::move(resolver)), factory_(std::move(factory)),
      decoder_(ansiDecoder()) {}

CommControl::~CommControl() {
    if (backend_)
        backend_->close();
}

QByteArray CommControl::toAnsi(const QString& text) {
    QStringEncoder encoder = ansiEncoder();
    return encoder.encode(text);
}

QString CommControl::fromAnsi(const QByteArray& bytes) {
    QStringDecoder decoder = ansiDecoder();
    return decoder.decode(bytes);
}

CommControl::Result CommControl::setCommPort(int port) {
    if (PortOpen())
        return {Failure::AlreadyOpen, QStringLiteral("端口已经打开")};
    if (port < 1 || port > 255)
        return {Failure::InvalidPort, QStringLiteral("端口号无效")};
    commPort_ = port;
    return {};
}

CommControl::Result CommControl::setSettings(const QString& text) {
    const auto parsed = SerialSettings::parse(text);
    if (!parsed)
        return {Failure::Other, QStringLiteral("无效的串口设置: %1").arg(text)};
    if (backend_) {
        const auto applied = backend_->applySettings(*parsed);
        if (!applied.ok())
            return {Failure::Other, applied.description};
    }
    settings_ = text;
    return {};
}

CommControl::Result CommControl::setPortOpen(bool open) {
    if (!open) {
        if (backend_) {
            backend_->close();
            backend_.reset();
        }
        dropInput();
        return {};
    }
    if (backend_)
        return {Failure::AlreadyOpen, QStringLiteral("端口已经打开")};
    const QString device = resolver_ ? resolver_(commPort_) : QString();
    if (device.isEmpty())
        return {Failure::InvalidPort, QStringLiteral("COM%1 不存在").arg(commPort_)};
    const auto parsed = SerialSettings::parse(settings_);
    if (!parsed)
        return {Failure::Other, QStringLiteral("无效的串口设置: %1").arg(settings_)};
    std::unique_ptr<SerialBackend> backend = factory_(device);
    if (!backend)
        return {Failure::InvalidPort, QStringLiteral("COM%1 不存在").arg(commPort_)};
    const auto opened = backend->open(*parsed);
    switch (opened.failure) {
    case SerialBackend::Failure::None:
        break;
    case SerialBackend::Failure::NotFound:
        return {Failure::InvalidPort, opened.description};
    case SerialBackend::Failure::InUse:
        return {Failure::AlreadyOpen, opened.description};
    case SerialBackend::Failure::PermissionDenied:
    case SerialBackend::Failure::Other:
        return {Failure::Other, opened.description};
    }
    backend_ = std::move(backend);
    dropInput();
    backend_->setDtr(linkDtr_);
    backend_->setPromptReads(promptReads_);
    connect(backend_.get(), &SerialBackend::readyRead, this, &CommControl::onReadyRead);
    connect(backend_.get(), &SerialBackend::outputDrained, this, &CommControl::OutputDrained);
    connect(backend_.get(), &SerialBackend::dsrChanged, this, [this] {
        ++pendingDsrEvents_;
        schedule();
    });
    connect(backend_.get(), &SerialBackend::lost, this, [this](const QString& description) {
        // Drop the dead line later: it is the sender of this signal.
        SerialBackend* dead = backend_.release();
        if (dead) {
            dead->close();
            dead->disconnect(this);
            dead->deleteLater();
        }
        // What the dead line left unread goes with it: nothing can complete it, and a
        // handler reset by the loss would take it as the start of something new.
        dropInput();
        emit portLost(description);
    });
    pullFromBackend();
    return {};
}

bool CommControl::Output(const QByteArray& bytes) {
    if (!backend_)
        return false;
    return backend_->write(bytes);
}

bool CommControl::Output(const QString& text) {
    return Output(toAnsi(text));
}

int CommControl::OutBufferCount() const {
    if (!backend_)
        return 0;
    return static_cast<int>(std::min<qint64>(backend_->bytesWaiting(), INT_MAX));
}

void CommControl::ClearOutBuffer() {
    if (backend_)
        backend_->discardOutput();
}

QByteArray CommControl::takeInput() {
    pullFromBackend();
    const qsizetype waiting = inBuffer_.size() - inStart_;
    const qsizetype n = inputLen_ == 0 ? waiting : std::min<qsizetype>(inputLen_, waiting);
    QByteArray out = inBuffer_.mid(inStart_, n);
    inStart_ += n;
    if (inStart_ == inBuffer_.size()) {
        inBuffer_.clear();
        inStart_ = 0;
    } else if (inStart_ >= 65536 && inStart_ * 2 >= inBuffer_.size()) {
        inBuffer_.remove(0, inStart_);
        inStart_ = 0;
    }
    if (n > 0)
        changedSinceEvent_ = true;
    return out;
}

int CommControl::InBufferIndexOf(char byte) const {
    const qsizetype at = inBuffer_.indexOf(byte, inStart_);
    return at < 0 ? -1 : static_cast<int>(at - inStart_);
}

QVariant CommControl::Input() {
    QByteArray bytes = takeInput();
    if (inputMode_ == comInputModeBinary)
        return bytes;
    return QString(decoder_.decode(bytes));
}

QByteArray CommControl::InputBytes() {
    return takeInput();
}

void CommControl::setRThreshold(int n) {
    rThreshold_ = std::max(0, n);
    changedSinceEvent_ = true;
    schedule();
}

void CommControl::setDTREnable(bool on) {
    dtrRequest_ = on;
    updateDtr();
}

void CommControl::holdDtrOff(DtrUser user) {
    dtrHolders_ |= 1u << static_cast<unsigned>(user);
    updateDtr();
}

void CommControl::releaseDtr(DtrUser user) {
    dtrHolders_ &= ~(1u << static_cast<unsigned>(user));
    updateDtr();
}

void CommControl::updateDtr() {
    const bool on = dtrRequest_ && dtrHolders_ == 0;
    if (on == linkDtr_)
        return;
    linkDtr_ = on;
    if (backend_)
        backend_->setDtr(on);
    emit dtrChanged(on);
}

void CommControl::setPromptReads(bool on) {
    promptReads_ = on;
    if (backend_)
        backend_->setPromptReads(on);
}

bool CommControl::readsSteadily() const {
    return backend_ && backend_->readsSteadily();
}

bool CommControl::DSRHolding() const {
    return backend_ && backend_->dsr();
}

void CommControl::dropInput() {
    inBuffer_.clear();
    inStart_ = 0;
    overrunTold_ = false;
    changedSinceEvent_ = false;
    decoder_.resetState();
}

bool CommControl::takeFromBackend() {
    if (!backend_)
        return false;
    QByteArray bytes = backend_->readAll();
    if (bytes.isEmpty())
        return false;
    // A handler that does not read (or cannot keep up) never makes the buffer grow
    // without end: what does not fit is dropped and counted.
    const qsizetype room = std::max<qsizetype>(0, kInBufferLimit - InBufferCount());
    if (bytes.size() > room) {
        const qint64 lost = bytes.size() - room;
        dropped_ += lost;
        bytes.truncate(room);
        if (!overrunTold_) {
            overrunTold_ = true;
            emit overrun(lost);
        }
    } else if (InBufferCount() == 0) {
        overrunTold_ = false;
    }
    if (bytes.isEmpty())
        return false;
    inBuffer_.append(bytes);
    changedSinceEvent_ = true;
    emit bytesArrived();
    return true;
}

void CommControl::pullFromBackend() {
    if (takeFromBackend())
        schedule();
}

void CommControl::onReadyRead() {
    if (inHandler_) {
        pullFromBackend(); // the running handler's return re-checks
        return;
    }
    // Straight from the line's own event: one wake-up per arrival, not two.
    if (takeFromBackend())
        dispatch();
}

void CommControl::schedule() {
    if (dispatchScheduled_)
        return;
    dispatchScheduled_ = true;
    QMetaObject::invokeMethod(this, &CommControl::dispatch, Qt::QueuedConnection);
}

// Delivers at most one event per pass and comes back through the event loop for the
// next, so a steady stream never starves the user interface.
void CommControl::dispatch() {
    dispatchScheduled_ = false;
    if (inHandler_)
        return; // the running handler's return re-checks
    if (pendingDsrEvents_ > 0) {
        --pendingDsrEvents_;
        commEvent_ = comEvDSR;
    } else if (rThreshold_ > 0 && InBufferCount() >= rThreshold_ && changedSinceEvent_) {
        changedSinceEvent_ = false;
        commEvent_ = comEvReceive;
    } else {
        return;
    }
    inHandler_ = true;
    emit OnComm();
    inHandler_ = false;
    if (pendingDsrEvents_ > 0 ||
        (rThreshold_ > 0 && InBufferCount() >= rThreshold_ && changedSinceEvent_))
        schedule();
}
