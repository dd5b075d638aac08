#include "link/pacedsender.h"

#include "serial/serialsettings.h"

#include <algorithm>

namespace {
// Line time allowed in flight, and the credit a sender may bank.
constexpr qint64 kWindowUs = 50000;
// The feed timer's period: well below the window, so the line never runs dry.
constexpr int kFeedIntervalMs = 5;
// progress() comes no more often than this.
constexpr qint64 kProgressIntervalMs = 20;
} // namespace

PacedSender::PacedSender(CommControl& comm, CommControl::DtrUser user, int dtrRestoreMs,
                         QObject* parent)
    : QObject(parent), comm_(&comm), user_(user), dtrRestoreMs_(std::max(0, dtrRestoreMs)) {
    feedTimer_.setInterval(kFeedIntervalMs);
    feedTimer_.setTimerType(Qt::PreciseTimer);
    connect(&feedTimer_, &QTimer::timeout, this, &PacedSender::tick);
    // Precise, so that DTR never comes back before its delay is over.
    restoreTimer_.setSingleShot(true);
    restoreTimer_.setTimerType(Qt::PreciseTimer);
    connect(&restoreTimer_, &QTimer::timeout, this, &PacedSender::restoreDtr);
    // Once everything is handed, the line emptying is what we wait for.
    connect(&comm, &CommControl::OutputDrained, this, [this] {
        if (phase_ == Phase::Draining)
            tick();
    });
    connect(&comm, &CommControl::portLost, this, [this](const QString& description) {
        if (phase_ == Phase::Sending || phase_ == Phase::Draining)
            fail(description);
    });
}

PacedSender::~PacedSender() {
    // A window closed mid-send must not leave DTR held off for good.
    if (busy() && comm_)
        comm_->releaseDtr(user_);
}

bool PacedSender::start(const QByteArray& bytes) {
    if (busy() || bytes.isEmpty() || !comm_ || !comm_->PortOpen())
        return false;
    const auto settings = SerialSettings::parse(comm_->Settings());
    if (!settings || settings->rate <= 0)
        return false;

    bytes_ = bytes;
    handed_ = 0;
    sent_ = 0;
    reported_ = 0;
    rate_ = settings->rate;
    costPerByte_ = qint64(settings->bitsPerCharacter()) * 1000000;
    window_ = std::max<qint64>(1, kWindowUs * rate_ / costPerByte_);
    credit_ = window_ * costPerByte_;
    clock_.start();
    lastTickUs_ = 0;
    lastReportMs_ = -kProgressIntervalMs;
    phase_ = Phase::Sending;

    comm_->holdDtrOff(user_);
    // The first slice goes now; signals come from the timer, after start() has returned.
    if (!feed()) {
        phase_ = Phase::Idle;
        comm_->releaseDtr(user_);
        return false;
    }
    feedTimer_.start();
    return true;
}

void PacedSender::stop() {
    if (phase_ != Phase::Sending && phase_ != Phase::Draining && phase_ != Phase::Finishing)
        return;
    if (phase_ == Phase::Finishing) {
        // Everything has left already; the DTR delay under way counts from the last byte.
        phase_ = Phase::Stopping;
        return;
    }
    feedTimer_.stop();
    if (comm_ && comm_->PortOpen()) {
        updateSent(); // what has left before the buffer is dropped
        comm_->ClearOutBuffer();
    }
    phase_ = Phase::Stopping;
    restoreTimer_.start(dtrRestoreMs_);
    reportProgress(true);
}

void PacedSender::tick() {
    if (phase_ != Phase::Sending && phase_ != Phase::Draining)
        return;
    if (!comm_ || !comm_->PortOpen()) {
        fail(QStringLiteral("端口已关闭，发送中断"));
        return;
    }
    if (phase_ == Phase::Sending && !feed()) {
        fail(QStringLiteral("串口写入失败，发送中断"));
        return;
    }
    updateSent();
    const bool allLeft = handed_ == total() && comm_->OutBufferCount() == 0;
    if (allLeft) {
        feedTimer_.stop();
        phase_ = Phase::Finishing;
        restoreTimer_.start(dtrRestoreMs_);
    }
    reportProgress(allLeft);
}

bool PacedSender::feed() {
    const qint64 nowUs = clock_.nsecsElapsed() / 1000;
    credit_ = std::min(credit_ + (nowUs - lastTickUs_) * rate_, window_ * costPerByte_);
    lastTickUs_ = nowUs;

    const qint64 inFlight = comm_->OutBufferCount();
    const qint64 n = std::min({total() - handed_, credit_ / costPerByte_, window_ - inFlight});
    if (n > 0) {
        if (!comm_->Output(bytes_.mid(handed_, n)))
            return false;
        handed_ += n;
        credit_ -= n * costPerByte_;
    }
    if (handed_ == total())
        phase_ = Phase::Draining;
    return true;
}

void PacedSender::updateSent() {
    sent_ = std::max(sent_, handed_ - comm_->OutBufferCount());
}

void PacedSender::reportProgress(bool force) {
    if (sent_ <= reported_)
        return;
    const qint64 nowMs = clock_.elapsed();
    if (!force && nowMs - lastReportMs_ < kProgressIntervalMs)
        return;
    reported_ = sent_;
    lastReportMs_ = nowMs;
    emit progress(sent_);
}

void PacedSender::fail(const QString& reason) {
    feedTimer_.stop();
    restoreTimer_.stop();
    phase_ = Phase::Idle;
    if (comm_)
        comm_->releaseDtr(user_);
    emit failed(reason);
}

void PacedSender::restoreDtr() {
    const bool wasStopped = phase_ == Phase::Stopping;
    phase_ = Phase::Idle;
    if (comm_)
        comm_->releaseDtr(user_);
    if (wasStopped)
        emit stopped();
    else
        emit finished();
}
