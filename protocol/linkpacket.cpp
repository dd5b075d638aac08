#include "protocol/linkpacket.h"

namespace linkpacket {

quint16 crc16(QByteArrayView bytes) {
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray payload(quint16 seq, int n) {
    QByteArray out(qMax(0, n), Qt::Uninitialized);
    quint32 x = 0x12345678u + quint32(seq) * 0x9E3779B1u;
    for (char& b : out) {
        x = x * 1664525u + 1013904223u;
        b = char(x >> 24);
    }
    return out;
}

QByteArray encode(quint16 seq, quint16 total, int n) {
    n = qBound(kMinPayload, n, kMaxPayload);
    QByteArray p;
    p.reserve(packetSize(n));
    p.append(char(kSync0));
    p.append(char(kSync1));
    p.append(char(seq >> 8));
    p.append(char(seq & 0xFF));
    p.append(char(total >> 8));
    p.append(char(total & 0xFF));
    p.append(char(n));
    p.append(payload(seq, n));
    const quint16 crc = crc16(QByteArrayView(p).sliced(2));
    p.append(char(crc >> 8));
    p.append(char(crc & 0xFF));
    return p;
}

namespace {
quint16 be16(const QByteArray& b, qsizetype at) {
    return quint16((quint8(b.at(at)) << 8) | quint8(b.at(at + 1)));
}
} // namespace

void Scanner::reset() {
    buffer_.clear();
    offset_ = 0;
    suppressUntil_ = 0;
    stray_ = 0;
}

void Scanner::feed(QByteArrayView bytes, QList<Packet>* out) {
    buffer_.append(bytes);
    while (!buffer_.isEmpty() && step(out, false)) {
    }
}

void Scanner::finish(QList<Packet>* out) {
    while (!buffer_.isEmpty() && step(out, true)) {
    }
    drop(buffer_.size(), true);
}

void Scanner::drop(qsizetype n, bool stray) {
    // Bytes of a corrupted packet's span are the packet's, not stray.
    if (stray)
        stray_ += qMax<qint64>(0, offset_ + n - qMax(offset_, suppressUntil_));
    buffer_.remove(0, n);
    offset_ += n;
}

void Scanner::corrupted(qsizetype claimedSize, QList<Packet>* out) {
    // A piece of a packet already counted is not counted again.
    if (offset_ >= suppressUntil_) {
        out->append(Packet{});
        suppressUntil_ = offset_ + claimedSize;
        drop(2, false);
    } else {
        drop(2, true);
    }
}

bool Scanner::step(QList<Packet>* out, bool ending) {
    const qsizetype sync = buffer_.indexOf(QByteArrayView("\x55\xAA", 2));
    if (sync < 0) {
        // A last 55 may be the start of the next packet.
        const bool keepLast = !ending && quint8(buffer_.back()) == kSync0;
        drop(buffer_.size() - (keepLast ? 1 : 0), true);
        return false;
    }
    if (sync > 0)
        drop(sync, true);
    if (buffer_.size() < kHeaderSize) {
        if (!ending)
            return false;
        drop(buffer_.size(), true);
        return false;
    }
    const int n = quint8(buffer_.at(6));
    if (n < kMinPayload || n > kMaxPayload) {
        drop(2, true); // no packet begins here
        return true;
    }
    const qsizetype size = packetSize(n);
    if (buffer_.size() < size) {
        if (!ending)
            return false;
        corrupted(size, out); // cut short
        return true;
    }
    const QByteArrayView body = QByteArrayView(buffer_).sliced(2, kHeaderSize - 2 + n);
    if (crc16(body) != be16(buffer_, size - 2)) {
        corrupted(size, out);
        return true;
    }
    const quint16 seq = be16(buffer_, 2);
    const quint16 total = be16(buffer_, 4);
    if (seq >= total || buffer_.mid(kHeaderSize, n) != payload(seq, n)) {
        // The CRC holds but the content is not the packet's: corrupted all the same, and
        // it is skipped whole (its framing was sound).
        out->append(Packet{});
        suppressUntil_ = offset_ + size;
        drop(size, false);
        return true;
    }
    out->append(Packet{true, seq, total, buffer_.first(size)});
    drop(size, false);
    return true;
}

} // namespace linkpacket
