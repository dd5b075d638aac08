#include "link/memorybackend.h"

void MemoryLine::feed(const QByteArray& bytes) {
    toProgram_.append(bytes);
    emit fedBytes();
}

QByteArray MemoryLine::takeWritten() {
    QByteArray out;
    out.swap(written_);
    return out;
}

void MemoryLine::setDsr(bool on) {
    if (dsr_ == on)
        return;
    dsr_ = on;
    emit dsrSet(on);
}

void MemoryLine::unplug() {
    emit unplugged();
}

MemoryBackend::MemoryBackend(MemoryLine* line, QObject* parent)
    : SerialBackend(parent), line_(line) {}

MemoryBackend::~MemoryBackend() {
    close();
}

SerialBackend::Result MemoryBackend::open(const SerialSettings& settings) {
    if (!line_)
        return {Failure::NotFound, QStringLiteral("no such line")};
    if (line_->busy_ || line_->open_)
        return {Failure::InUse, QStringLiteral("line in use")};
    line_->open_ = true;
    line_->openCount_++;
    line_->settings_ = settings;
    line_->toProgram_.clear();
    open_ = true;
    connect(line_, &MemoryLine::fedBytes, this, &SerialBackend::readyRead, Qt::QueuedConnection);
    connect(line_, &MemoryLine::dsrSet, this, &SerialBackend::dsrChanged, Qt::QueuedConnection);
    connect(line_, &MemoryLine::unplugged, this, [this] {
        if (!open_)
            return;
        close();
        emit lost(QStringLiteral("设备已拔出"));
    });
    return {};
}

void MemoryBackend::close() {
    if (!open_)
        return;
    open_ = false;
    if (line_) {
        disconnect(line_, nullptr, this, nullptr);
        line_->open_ = false;
    }
}

SerialBackend::Result MemoryBackend::applySettings(const SerialSettings& settings) {
    if (line_)
        line_->settings_ = settings;
    return {};
}

bool MemoryBackend::write(const QByteArray& bytes) {
    if (!open_ || !line_)
        return false;
    line_->written_.append(bytes);
    emit line_->bytesWritten(bytes);
    return true;
}

QByteArray MemoryBackend::readAll() {
    if (!open_ || !line_)
        return {};
    QByteArray out;
    out.swap(line_->toProgram_);
    return out;
}

void MemoryBackend::setDtr(bool on) {
    if (open_ && line_)
        line_->dtr_ = on;
}

bool MemoryBackend::dsr() const {
    return open_ && line_ && line_->dsr_;
}
