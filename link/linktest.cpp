#include "link/linktest.h"

#include "link/modulesession.h"
#include "link/pacedsender.h"
#include "link/replyparser.h"
#include "serial/serialsettings.h"

#include <algorithm>
#include <cmath>

namespace {
// countsChanged() comes no more often than this.
constexpr qint64 kCountsIntervalMs = 50;
} // namespace

LinkTest::LinkTest(ModuleSession& session, QObject* parent)
    : QObject(parent), session_(session), comm_(session.comm()), parser_(session.link().parser),
      sender_(new PacedSender(comm_, CommControl::DtrUser::LinkTestBlock, 0, this)) {
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, &LinkTest::tick);
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &LinkTest::heardQuiet);
    connect(sender_, &PacedSender::finished, this, &LinkTest::pump);
    connect(sender_, &PacedSender::failed, this, [this](const QString& reason) {
        if (running_)
            finish(true, reason);
    });
    connect(&comm_, &CommControl::portLost, this, [this] {
        if (running_)
            finish(true, QStringLiteral("串口断开"));
    });
}

LinkTest::~LinkTest() {
    if (running_) {
        parser_.setReceiveRoute(nullptr);
        parser_.reset();
        comm_.releaseDtr(CommControl::DtrUser::LinkTest);
    }
}

double LinkTest::lineTimeMs(int size, const QString& portSettings) {
    const auto s = SerialSettings::parse(portSettings);
    if (!s || s->rate <= 0)
        return 0;
    return linkpacket::packetSize(size) * s->bitsPerCharacter() * 1000.0 / s->rate;
}

double LinkTest::defaultIntervalMs(int size, const QString& portSettings) {
    return lineTimeMs(size, portSettings) * 1.2;
}

bool LinkTest::start(const Config& config, QString* error) {
    const auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (running_)
        return refuse(QStringLiteral("链路测试正在进行"));
    if (!comm_.PortOpen())
        return refuse(QStringLiteral("串口没有打开"));
    if (session_.sequenceRunning() || session_.writing())
        return refuse(QStringLiteral("正在读写模块参数,请稍候再试"));
    if (parser_.receiveRoute())
        return refuse(QStringLiteral("文件捕捉正在进行,请先关闭捕捉文件窗口"));
    if (config.size < linkpacket::kMinPayload || config.size > linkpacket::kMaxPayload)
        return refuse(QStringLiteral("数据长度应为 1 到 200"));
    if (config.count < 1 || config.count > 65535)
        return refuse(QStringLiteral("包数应为 1 到 65535"));
    if (config.maxPerPercent < 0 || config.maxPerPercent > 100)
        return refuse(QStringLiteral("合格门限应为 0 到 100%"));

    config_ = config;
    if (config_.intervalMs < 0)
        config_.intervalMs = defaultIntervalMs(config_.size, comm_.Settings());
    result_ = LinkTestResult{};
    result_.role = config_.role;
    result_.startedAt = QDateTime::currentDateTimeUtc();
    result_.count = config_.role == LinkTestRole::Send ? config_.count : 0;
    result_.size = config_.size;
    result_.intervalMs = config_.role == LinkTestRole::Send ? config_.intervalMs : 0;
    result_.maxPerPercent = config_.maxPerPercent;
    result_.echo = config_.role == LinkTestRole::Send && config_.expectEcho;
    tally_ = LinkTally{};
    scanner_.reset();
    queue_.clear();
    queuedPackets_ = 0;
    nextSeq_ = 0;
    allSent_ = false;
    heardAny_ = false;
    rttCount_ = 0;
    rttSum_ = 0;
    lastCountsMs_ = -kCountsIntervalMs;

    // Every received byte is the test's from now on.
    parser_.reset();
    parser_.setReceiveRoute(this);
    comm_.setRThreshold(1);
    comm_.setInputLen(0);
    running_ = true;
    clock_.start();

    if (config_.role != LinkTestRole::Receive)
        comm_.holdDtrOff(CommControl::DtrUser::LinkTest);
    if (config_.role == LinkTestRole::Send) {
        tally_.expect(quint16(config_.count));
        sentAtUs_.fill(-1, config_.count);
        intervalUs_ = qint64(std::llround(config_.intervalMs * 1000));
        tick_.setInterval(std::clamp(int(config_.intervalMs / 2), 1, 5));
        tick();
        if (running_ && nextSeq_ < config_.count)
            tick_.start();
    }
    return true;
}

void LinkTest::stop() {
    if (running_)
        finish(true, QStringLiteral("测试被停止"));
}

void LinkTest::tick() {
    const qint64 nowUs = clock_.nsecsElapsed() / 1000;
    const int due = intervalUs_ <= 0
                        ? config_.count
                        : int(std::min<qint64>(config_.count, nowUs / intervalUs_ + 1));
    for (; nextSeq_ < due; ++nextSeq_) {
        queue_.append(linkpacket::encode(quint16(nextSeq_), quint16(config_.count), config_.size));
        sentAtUs_[nextSeq_] = nowUs;
        ++queuedPackets_;
    }
    if (nextSeq_ >= config_.count)
        tick_.stop();
    pump();
}

void LinkTest::pump() {
    if (!running_ || sender_->busy())
        return;
    if (!queue_.isEmpty()) {
        if (!sender_->start(queue_)) {
            finish(true, QStringLiteral("串口写入失败"));
            return;
        }
        queue_.clear();
        result_.sent += queuedPackets_;
        queuedPackets_ = 0;
        if (config_.role == LinkTestRole::Send)
            emit progress(result_.sent, config_.count);
        return;
    }
    if (config_.role != LinkTestRole::Send || nextSeq_ < config_.count || allSent_)
        return;
    // The last packet has left.
    allSent_ = true;
    if (!config_.expectEcho)
        finish(false, {});
    else
        quiet_.start(tally_.received() == config_.count ? kLingerMs : config_.quietMs);
}

void LinkTest::receivePass() {
    if (!running_)
        return;
    comm_.setInputLen(0);
    const QByteArray bytes = comm_.InputBytes();
    if (bytes.isEmpty())
        return;
    QList<linkpacket::Scanner::Packet> packets;
    scanner_.feed(bytes, &packets);
    take(packets, true);
    if (!running_)
        return;
    if (config_.role == LinkTestRole::Send) {
        if (allSent_)
            quiet_.start(tally_.received() == config_.count ? kLingerMs : config_.quietMs);
    } else if (tally_.seen(tally_.total() - 1)) {
        quiet_.start(kLingerMs);
    } else if (heardAny_) {
        quiet_.start(config_.quietMs);
    }
    reportCounts(false);
}

void LinkTest::take(const QList<linkpacket::Scanner::Packet>& packets, bool live) {
    for (const auto& p : packets) {
        heardAny_ = true;
        if (!p.good) {
            tally_.corrupted();
            continue;
        }
        const bool first = !tally_.seen(p.seq);
        if (!tally_.good(p.seq, p.total))
            continue;
        if (!live)
            continue;
        double rtt = -1;
        if (config_.role == LinkTestRole::Send && first && p.seq < sentAtUs_.size() &&
            sentAtUs_.at(p.seq) >= 0) {
            rtt = (clock_.nsecsElapsed() / 1000 - sentAtUs_.at(p.seq)) / 1000.0;
            result_.rttMinMs = std::min(result_.rttMinMs.value_or(rtt), rtt);
            result_.rttMaxMs = std::max(result_.rttMaxMs.value_or(rtt), rtt);
            rttSum_ += rtt;
            ++rttCount_;
        }
        if (config_.role == LinkTestRole::Echo) {
            queue_.append(p.bytes);
            ++queuedPackets_;
            pump();
            if (!running_)
                return;
        }
        emit sample(p.seq, tally_.windowPer(kPerWindow), rtt);
        if (config_.role != LinkTestRole::Send)
            emit progress(tally_.highest() + 1, tally_.total());
    }
}

void LinkTest::heardQuiet() {
    if (!running_)
        return;
    if (config_.role == LinkTestRole::Echo && (sender_->busy() || !queue_.isEmpty())) {
        quiet_.start(kLingerMs); // the last echoes are still going
        return;
    }
    finish(false, {});
}

void LinkTest::fillCounts(LinkTestResult* r) const {
    r->total = config_.role == LinkTestRole::Send ? config_.count : tally_.total();
    if (config_.role != LinkTestRole::Send)
        r->count = tally_.total();
    r->received = tally_.received();
    r->corrupted = tally_.corruptedCount();
    // While the test runs, what has not come yet is not lost yet.
    r->lost = running_ ? qMax(0, tally_.missingSoFar() - tally_.corruptedCount()) : tally_.lost();
    r->duplicated = tally_.duplicated();
    r->outOfOrder = tally_.outOfOrder();
    r->strayBytes = scanner_.strayBytes();
    r->per = running_ ? tally_.perSoFar() : tally_.per();
    if (rttCount_ > 0)
        r->rttMeanMs = rttSum_ / rttCount_;
}

LinkTestResult LinkTest::snapshot() const {
    LinkTestResult r = result_;
    fillCounts(&r);
    return r;
}

void LinkTest::finish(bool cutShort, const QString& reason) {
    running_ = false;
    tick_.stop();
    quiet_.stop();
    if (sender_->busy())
        sender_->stop();
    queue_.clear();
    // What the line still held: a packet cut off counts as corrupted.
    if (comm_.PortOpen()) {
        comm_.setInputLen(0);
        QList<linkpacket::Scanner::Packet> packets;
        scanner_.feed(comm_.InputBytes(), &packets);
        take(packets, false);
    }
    QList<linkpacket::Scanner::Packet> rest;
    scanner_.finish(&rest);
    take(rest, false);
    parser_.setReceiveRoute(nullptr);
    parser_.reset();
    comm_.releaseDtr(CommControl::DtrUser::LinkTest);

    result_.finishedAt = QDateTime::currentDateTimeUtc();
    result_.cutShort = cutShort;
    result_.cutReason = reason;
    fillCounts(&result_);
    if (cutShort)
        result_.verdict = LinkTestResult::Verdict::Fail;
    else if (config_.role == LinkTestRole::Send && !config_.expectEcho)
        result_.verdict = LinkTestResult::Verdict::None;
    else
        result_.verdict = result_.per * 100 <= config_.maxPerPercent + 1e-9
                              ? LinkTestResult::Verdict::Pass
                              : LinkTestResult::Verdict::Fail;
    reportCounts(true);
    emit finished(result_);
}

void LinkTest::reportCounts(bool force) {
    const qint64 now = clock_.elapsed();
    if (!force && now - lastCountsMs_ < kCountsIntervalMs)
        return;
    lastCountsMs_ = now;
    emit countsChanged();
}
