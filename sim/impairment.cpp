#include "sim/impairment.h"

#include "protocol/linkpacket.h"

namespace t83sim {

bool ImpairLog::open(const QString& path, QString* error) {
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (error)
            *error = file_.errorString();
        return false;
    }
    return true;
}

void ImpairLog::write(const QString& line) {
    if (!file_.isOpen())
        return;
    file_.write(line.toUtf8() + '\n');
    file_.flush(); // a test reads it while the simulator runs
}

Impairer::Impairer(const ImpairOptions& options, quint32 seed, const QString& direction,
                   ImpairLog* log)
    : options_(options), random_(seed), direction_(direction), log_(log) {}

QByteArray Impairer::pass(QByteArrayView data) {
    using namespace linkpacket;
    held_.append(data);
    QByteArray out;
    for (;;) {
        const qsizetype sync = held_.indexOf(QByteArrayView("\x55\xAA", 2));
        if (sync < 0) {
            const bool keepLast = !held_.isEmpty() && quint8(held_.back()) == kSync0;
            const qsizetype n = held_.size() - (keepLast ? 1 : 0);
            out.append(held_.first(n));
            held_.remove(0, n);
            break;
        }
        out.append(held_.first(sync));
        held_.remove(0, sync);
        if (held_.size() < kHeaderSize)
            break;
        const int n = quint8(held_.at(6));
        if (n < kMinPayload || n > kMaxPayload) {
            out.append(held_.first(2));
            held_.remove(0, 2);
            continue;
        }
        if (held_.size() < packetSize(n))
            break;
        packet(held_.first(packetSize(n)), &out);
        held_.remove(0, packetSize(n));
    }
    return out;
}

QByteArray Impairer::flush() {
    QByteArray out;
    out.swap(held_);
    return out;
}

void Impairer::packet(const QByteArray& bytes, QByteArray* out) {
    ++packets_;
    const double r = random_.generateDouble() * 100;
    const QString seq = QString::number((quint8(bytes.at(2)) << 8) | quint8(bytes.at(3)));
    const QString head = QStringLiteral("%1 %2 seq %3 ").arg(direction_).arg(packets_).arg(seq);
    const auto log = [this, &head](const QString& what) {
        if (log_)
            log_->write(head + what);
    };
    if (r < options_.lossPercent) {
        log(QStringLiteral("lost %1 bytes").arg(bytes.size()));
        return;
    }
    if (r < options_.lossPercent + options_.corruptPercent) {
        // Any byte but the 55 AA (0, 1) and the length (6).
        const int choices = int(bytes.size()) - 3;
        int at = int(random_.bounded(choices)) + 2;
        if (at >= 6)
            ++at;
        const quint8 before = quint8(bytes.at(at));
        const quint8 after = before ^ quint8(random_.bounded(1, 256));
        QByteArray changed = bytes;
        changed[at] = char(after);
        out->append(changed);
        log(QStringLiteral("corrupted byte %1 %2->%3")
                .arg(at)
                .arg(before, 2, 16, QLatin1Char('0'))
                .arg(after, 2, 16, QLatin1Char('0')));
        return;
    }
    out->append(bytes);
    if (r < options_.lossPercent + options_.corruptPercent + options_.duplicatePercent) {
        out->append(bytes);
        log(QStringLiteral("duplicated"));
    }
}

} // namespace t83sim
