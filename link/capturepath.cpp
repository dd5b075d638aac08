#include "link/capturepath.h"

#include "protocol/codes.h"

#include <QtEndian>

#include <algorithm>

namespace {
constexpr quint8 kMarker = t83::kFrameStart;
// After the name: the separator and the four length bytes.
constexpr int kHeaderTail = 5;
constexpr qint64 kProgressIntervalMs = 50;
} // namespace

CapturePath::CapturePath(CommControl& comm, QObject* parent) : QObject(parent), comm_(comm) {}

void CapturePath::receivePass() {
    while (comm_.InBufferCount() > 0 && step()) {
    }
}

bool CapturePath::step() {
    switch (CaptureState) {
    case 0: {
        if (rejected_ || comm_.InBufferCount() == 0)
            return false;
        CaptureSaved = false;
        if (comm_.InBufferIndexOf(static_cast<char>(kMarker)) != 0) {
            // Not a transfer. The byte stays where it is: drainLeftover shows it with
            // what follows.
            rejected_ = true;
            emit badHeader();
            return false;
        }
        comm_.setInputLen(1);
        comm_.InputBytes();
        CaptureState = 1;
        emit markerRead();
        return true;
    }
    case 1: {
        comm_.setInputLen(1);
        const QByteArray length = comm_.InputBytes();
        if (length.isEmpty())
            return false;
        CaptureNameLength = static_cast<quint8>(length.at(0));
        const int rest = CaptureNameLength + kHeaderTail;
        comm_.setInputLen(rest);
        comm_.setRThreshold(rest);
        CaptureState = 2;
        emit headerStarted();
        return true;
    }
    case 2: {
        const int rest = CaptureNameLength + kHeaderTail;
        if (comm_.InBufferCount() < rest)
            return false; // the threshold raises the next event once all of it is here
        comm_.setInputLen(rest);
        const QByteArray header = comm_.InputBytes();
        if (header.size() < rest)
            return false;
        // Decoded in memory: every byte of the name counts, commas included.
        CaptureName = CommControl::fromAnsi(header.left(CaptureNameLength));
        // The separator at CaptureNameLength is not checked.
        CaptureLength = qFromBigEndian<quint32>(header.constData() + CaptureNameLength + 1);
        comm_.setInputLen(1);
        comm_.setRThreshold(1);
        CaptureState = 3;
        overflowTold_ = false;
        sinceProgress_.invalidate();
        emit headerRead(CaptureName, CaptureLength);
        return true;
    }
    case 3:
        takeData();
        return true;
    default:
        return false;
    }
}

void CapturePath::takeData() {
    comm_.setInputLen(0);
    const QByteArray data = comm_.InputBytes();
    comm_.setInputLen(1);
    if (data.isEmpty())
        return;

    // Data byte k goes to index k: a new file's data replaces the last one's.
    CaptureBuffer.truncate(std::clamp<qsizetype>(CaptureCount, 0, CaptureBuffer.size()));
    const qint32 before = static_cast<qint32>(CaptureBuffer.size());
    const qsizetype kept = std::min<qsizetype>(kBufferSize - before, data.size());
    if (kept > 0) {
        const qsizetype needed = before + kept;
        if (CaptureBuffer.capacity() < needed) {
            // Room for the announced length at once, or twice what there is; never more
            // than the buffer may hold.
            const qsizetype announced = std::min<quint32>(CaptureLength, kBufferSize);
            const qsizetype want = std::max({needed, 2 * CaptureBuffer.capacity(), announced});
            CaptureBuffer.reserve(std::min<qsizetype>(want, kBufferSize));
        }
        CaptureBuffer.append(data.constData(), kept);
    }
    CaptureCount = static_cast<qint32>(CaptureBuffer.size());

    emit dataArrived();
    if (kept > 0) {
        const bool reached = static_cast<quint32>(before) < CaptureLength &&
                             static_cast<quint32>(CaptureCount) >= CaptureLength;
        if (reached || !sinceProgress_.isValid() ||
            sinceProgress_.elapsed() >= kProgressIntervalMs) {
            sinceProgress_.start();
            emit progress(CaptureCount);
        }
    }
    if (kept < data.size() && !overflowTold_) {
        overflowTold_ = true;
        emit overflow();
    }
}

void CapturePath::reset() {
    CaptureState = 0;
    CaptureNameLength = 0;
    CaptureLength = 0;
    CaptureCount = 0;
    CaptureName.clear();
    rejected_ = false;
    overflowTold_ = false;
    sinceProgress_.invalidate();
    comm_.setInputLen(1);
    comm_.setRThreshold(1);
}

void CapturePath::drainLeftover() {
    const bool hex = comm_.InputMode() == CommControl::comInputModeBinary;
    comm_.setInputLen(0);
    const QVariant got = comm_.Input();
    comm_.setInputLen(1);
    comm_.setRThreshold(1);
    QString text;
    if (hex) {
        const QByteArray bytes = got.toByteArray();
        if (!bytes.isEmpty())
            text = QString::fromLatin1(bytes.toHex(':').toUpper()) + QLatin1Char(':');
    } else {
        text = got.toString();
    }
    if (!text.isEmpty())
        emit leftover(text, hex);
}
