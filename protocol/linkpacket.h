#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The link test's radio packet:
//   55 AA | seq (2, big-endian) | total (2) | n (1) | n payload bytes | CRC (2, big-endian)
// The CRC is CRC-16/CCITT-FALSE over seq .. payload; the payload is derived from seq, so a
// receiver checks the content as well as the CRC.
namespace linkpacket {

constexpr quint8 kSync0 = 0x55;
constexpr quint8 kSync1 = 0xAA;
constexpr int kHeaderSize = 7; // sync, seq, total, n
constexpr int kCrcSize = 2;
constexpr int kMinPayload = 1;
constexpr int kMaxPayload = 200;
constexpr int kMaxPacket = kHeaderSize + kMaxPayload + kCrcSize;

constexpr int packetSize(int payload) {
    return kHeaderSize + payload + kCrcSize;
}

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, no reflection, no final xor.
quint16 crc16(QByteArrayView bytes);
// The n payload bytes of packet `seq`: x = 0x12345678 + seq * 0x9E3779B1, then for each
// byte x = x * 1664525 + 1013904223 and the byte is the top eight bits of x (all mod 2^32).
QByteArray payload(quint16 seq, int n);
QByteArray encode(quint16 seq, quint16 total, int n);

// Finds packets in a received byte stream, whatever comes around or between them.
// A packet begins at 55 AA with a length of 1..200 (a plausible header); bytes before
// it are stray. A packet whose CRC fails is corrupted and the search goes on from the
// byte after its 55 AA, so a corrupted length swallows nothing for good; a failing
// "packet" that begins inside the span a corrupted packet claimed is a piece of it and
// counts as stray, never as a second corrupted packet. A packet with a good CRC whose
// payload or sequence number is not what its seq makes is corrupted as well.
class Scanner {
  public:
    struct Packet {
        bool good = false;
        quint16 seq = 0;   // meaningful when good
        quint16 total = 0; // meaningful when good
        QByteArray bytes;  // the whole packet as received (good ones)
    };

    // Takes the bytes; what is found is appended to `out`.
    void feed(QByteArrayView bytes, QList<Packet>* out);
    // The stream has ended: a header still short of its bytes counts as corrupted and
    // the rest is searched once more.
    void finish(QList<Packet>* out);
    // Bytes that were part of no packet, good or corrupted.
    qint64 strayBytes() const { return stray_; }
    void reset();

  private:
    // One step at the front of the buffer; false when more bytes are needed.
    bool step(QList<Packet>* out, bool ending);
    void drop(qsizetype n, bool stray);
    void corrupted(qsizetype claimedSize, QList<Packet>* out);

    QByteArray buffer_;
    qint64 offset_ = 0;        // stream position of buffer_[0]
    qint64 suppressUntil_ = 0; // end of the last corrupted packet's claimed span
    qint64 stray_ = 0;
};

} // namespace linkpacket
