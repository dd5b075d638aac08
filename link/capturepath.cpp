#include "link/capturepath.h"

#include "protocol/codes.h"

#include <QtEndian>

#include <algorithm>
#include <climits>

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
        taken_.header += comm_.InputBytes().size();
        CaptureState = 1;
        emit markerRead();
        return true;
    }
    case 1: {
        comm_.setInputLen(1);
        const QByteArray length = comm_.InputBytes();
        if (length.isEmpty())
            return false;
        taken_.header += length.size();
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
        taken_.header += header.size();
        // Decoded in memory: every byte of the name counts, commas included.
        CaptureName = CommControl::fromAnsi(header.left(CaptureNameLength));
        // The separator at CaptureNameLength is not checked.
        CaptureLength = qFromBigEndian<quint32>(header.constData() + CaptureNameLength + 1);
        comm_.setInputLen(1);
        comm_.setRThreshold(1);
        CaptureCount = 0;
        received_ = 0;
        sinceProgress_.invalidate();
        CaptureState = 3;
        emit headerRead(CaptureName, CaptureLength);
        if (CaptureState == 3 && CaptureLength == 0) {
            // An empty file is complete with its header.
            CaptureBuffer.clear();
            emit progress(0);
            fileEnded(4);
            emit fileComplete();
            return false;
        }
        return CaptureState == 3;
    }
    case 3:
        takeData();
        return CaptureState == 3 || CaptureState == 5;
    case 5:
        dropData();
        // Dropped to its announced end: a file already saved lets the next one in.
        return CaptureState == 5 || CaptureState == 0;
    default: // 4: the next transfer waits for release()
        return false;
    }
}

void CapturePath::takeData() {
    // Never past the announced length: what follows it is the next transfer's.
    const quint32 remaining = CaptureLength - received_;
    comm_.setInputLen(static_cast<int>(std::min<quint32>(remaining, INT_MAX)));
    const QByteArray data = comm_.InputBytes();
    comm_.setInputLen(1);
    if (data.isEmpty())
        return;
    received_ += static_cast<quint32>(data.size());

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
    taken_.kept += kept;
    taken_.dropped += data.size() - kept;

    emit dataArrived();
    const bool atEnd = received_ == CaptureLength;
    const bool full = CaptureCount == kBufferSize;
    if (kept > 0 && (atEnd || full || !sinceProgress_.isValid() ||
                     sinceProgress_.elapsed() >= kProgressIntervalMs)) {
        sinceProgress_.start();
        emit progress(CaptureCount);
    }
    if (atEnd && kept == data.size()) {
        fileEnded(4);
        emit fileComplete();
    } else if (full) {
        // The buffer's end is the file's end; the rest of its announced data has no
        // room and is not the next transfer's either.
        fileEnded(atEnd ? 4 : 5);
        emit overflow();
    }
}

void CapturePath::dropData() {
    const quint32 remaining = CaptureLength - received_;
    comm_.setInputLen(static_cast<int>(std::min<quint32>(remaining, INT_MAX)));
    const QByteArray data = comm_.InputBytes();
    comm_.setInputLen(1);
    if (data.isEmpty())
        return;
    received_ += static_cast<quint32>(data.size());
    taken_.dropped += data.size();
    emit dataArrived();
    if (received_ == CaptureLength) {
        if (CaptureSaved)
            backToMarker();
        else
            CaptureState = 4;
    }
}

void CapturePath::fileEnded(qint16 next) {
    CaptureState = next;
    CaptureSaved = false;
    comm_.setInputLen(1);
    comm_.setRThreshold(1);
}

void CapturePath::backToMarker() {
    CaptureState = 0;
    CaptureNameLength = 0;
    CaptureLength = 0;
    CaptureCount = 0;
    received_ = 0;
    rejected_ = false;
    sinceProgress_.invalidate();
    comm_.setInputLen(1);
    comm_.setRThreshold(1);
}

void CapturePath::reset() {
    backToMarker();
    CaptureName.clear();
}

void CapturePath::release() {
    CaptureSaved = true;
    // Back to the marker; the threshold raises a receive event for what waits already.
    if (CaptureState == 4)
        backToMarker();
}

void CapturePath::endTransfer() {
    switch (CaptureState) {
    case 1:
    case 2: {
        // A header cut short: what came of it is dropped, nothing follows it.
        comm_.setInputLen(0);
        taken_.dropped += comm_.InputBytes().size();
        backToMarker();
        break;
    }
    case 3:
        if (CaptureCount > 0) {
            fileEnded(4);
            emit fileCutShort(CaptureCount);
        } else {
            backToMarker();
        }
        break;
    case 5:
        if (CaptureSaved)
            backToMarker();
        else
            fileEnded(4);
        break;
    default:
        break;
    }
}

void CapturePath::drainLeftover() {
    const bool hex = comm_.InputMode() == CommControl::comInputModeBinary;
    QString text;
    int bytes = 0;
    if (hex) {
        comm_.setInputLen(0);
        const QByteArray got = comm_.InputBytes();
        bytes = static_cast<int>(got.size());
        if (!got.isEmpty())
            text = QString::fromLatin1(got.toHex(':').toUpper()) + QLatin1Char(':');
    } else {
        // As many bytes as wait now, decoded as the receive window decodes text (a
        // character split at the end is completed by the next read).
        bytes = comm_.InBufferCount();
        comm_.setInputLen(bytes);
        if (bytes > 0)
            text = comm_.Input().toString();
    }
    comm_.setInputLen(1);
    comm_.setRThreshold(1);
    taken_.shown += bytes;
    if (bytes > 0)
        emit leftover(text, hex, bytes);
}
