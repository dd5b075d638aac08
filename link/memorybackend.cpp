#include "link/memorybackend.h"

MemoryLine::MemoryLine(QObject* parent) : QObject(parent) {
    clock_.start();
    // A few milliseconds per step; how much leaves is worked out from the elapsed time,
    // so the pace is exact on average whatever the timer's jitter.
    drainTimer_.setInterval(4);
    drainTimer_.setTimerType(Qt::PreciseTimer);
    connect(&drainTimer_, &QTimer::timeout, this, &MemoryLine::drainDue);
}

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

void MemoryLine::unplug(const QString& detail) {
    emit unplugged(detail);
}

void MemoryLine::setDrainRate(int bytesPerSecond) {
    drainDue(); // what was due at the old rate has left
    rate_ = std::max(0, bytesPerSecond);
    if (waiting_.isEmpty())
        return;
    if (rate_ == 0) {
        drainTimer_.stop();
        QByteArray all;
        all.swap(waiting_);
        leave(all);
        emit drained();
        return;
    }
    drainClock_.start();
    leftSinceDrainStart_ = 0;
}

void MemoryLine::accept(const QByteArray& bytes) {
    if (rate_ == 0) {
        leave(bytes);
        emit drained();
        return;
    }
    if (waiting_.isEmpty()) {
        drainClock_.start();
        leftSinceDrainStart_ = 0;
        drainTimer_.start();
    }
    waiting_.append(bytes);
}

void MemoryLine::drainDue() {
    if (waiting_.isEmpty() || rate_ == 0)
        return;
    const qint64 due = drainClock_.elapsed() * rate_ / 1000 - leftSinceDrainStart_;
    if (due <= 0)
        return;
    const QByteArray chunk = waiting_.left(due);
    waiting_.remove(0, chunk.size());
    leftSinceDrainStart_ += chunk.size();
    if (waiting_.isEmpty())
        drainTimer_.stop();
    leave(chunk);
    // A receiver of bytesWritten may have written again: the queue then runs on.
    if (waiting_.isEmpty())
        emit drained();
}

void MemoryLine::leave(const QByteArray& bytes) {
    written_.append(bytes);
    timeline_.append({clock_.elapsed(), bytes, dtr_});
    emit bytesWritten(bytes);
}

bool MemoryLine::dropWaiting() {
    drainDue(); // what was due has left already and cannot be called back
    drainTimer_.stop();
    if (waiting_.isEmpty())
        return false;
    waiting_.clear();
    return true;
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
    drainPending_ = false;
    connect(line_, &MemoryLine::fedBytes, this, &SerialBackend::readyRead, Qt::QueuedConnection);
    connect(line_, &MemoryLine::dsrSet, this, &SerialBackend::dsrChanged, Qt::QueuedConnection);
    // Queued, so that outputDrained never comes from inside write() or discardOutput().
    connect(line_, &MemoryLine::drained, this, &MemoryBackend::checkDrained, Qt::QueuedConnection);
    connect(line_, &MemoryLine::unplugged, this, [this](const QString& detail) {
        if (!open_)
            return;
        close();
        emit lost(detail);
    });
    return {};
}

void MemoryBackend::close() {
    if (!open_)
        return;
    open_ = false;
    drainPending_ = false;
    if (line_) {
        disconnect(line_, nullptr, this, nullptr);
        line_->dropWaiting();
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
    if (bytes.isEmpty())
        return true;
    qint64& limit = line_->writeLimit_;
    const bool whole = limit < 0 || limit >= bytes.size();
    const QByteArray taken = whole ? bytes : bytes.left(limit);
    if (limit >= 0)
        limit -= taken.size();
    if (!taken.isEmpty()) {
        drainPending_ = true;
        line_->accept(taken);
    }
    return whole;
}

qint64 MemoryBackend::bytesWaiting() const {
    return open_ && line_ ? line_->waiting() : 0;
}

void MemoryBackend::discardOutput() {
    if (open_ && line_ && line_->dropWaiting())
        emit line_->drained();
}

void MemoryBackend::checkDrained() {
    if (!open_ || !drainPending_ || bytesWaiting() > 0)
        return;
    drainPending_ = false;
    emit outputDrained();
}

QByteArray MemoryBackend::readAll() {
    if (!open_ || !line_)
        return {};
    QByteArray out;
    out.swap(line_->toProgram_);
    return out;
}

void MemoryBackend::setDtr(bool on) {
    if (!open_ || !line_)
        return;
    line_->drainDue(); // bytes due before the change left with the old state
    line_->dtr_ = on;
}

bool MemoryBackend::dsr() const {
    return open_ && line_ && line_->dsr_;
}
