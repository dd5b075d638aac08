#pragma once

#include "link/commcontrol.h"
#include "link/receiveroute.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

// The receive side of a file transfer, run in place of the reply parser while the
// file-capture window is open. A transfer is a header, then the file's bytes:
//   D7, n (name length), n name bytes (ANSI), a separator byte, the length (4 bytes, most
//   significant first), then the data.
// The header is taken in the sizes the serial object is told (1, 1, n + 5); the data is
// taken as it comes, everything buffered in one read, but never past the announced
// length: the file ends there, and what follows is the next transfer. An ended file
// holds the line: the next transfer waits in the serial object's input buffer until the
// window has saved or given up the file (release()), so a second file can neither
// replace the first before it is saved nor be lost meanwhile. The window owns what the
// signals show, the silence that ends a transfer cut short, and the saving.
class CapturePath : public QObject, public ReceiveRoute {
    Q_OBJECT
  public:
    static constexpr qint32 kBufferSize = 1003001;

    explicit CapturePath(CommControl& comm, QObject* parent = nullptr);

    // Takes what is buffered as far as the state allows: several header steps and the
    // data may go in one pass; a header still short of bytes waits for the next event;
    // an ended file takes nothing.
    void receivePass() override;
    // Back to waiting for the header (state 0, count 0); threshold and read length 1/1.
    // CaptureBuffer keeps the last file's data until the next file's data replaces it.
    void reset();
    // The file that ended was saved or given up: the next transfer, waiting already or
    // still to come, is taken like a first one. Nothing else changes while no file
    // waits for it.
    void release();
    // The transfer stops where it is (the line went silent or away): a header cut short
    // is dropped; data received ends the file as far as it goes (see fileEnded); the
    // rest of a file past the buffer is over.
    void endTransfer();
    // Shows what is still buffered after a bad header closed the capture, the rejected
    // byte first: reads all of it in the current input mode and emits leftover();
    // threshold/read length back to 1/1.
    void drainLeftover();

    // 0 marker, 1 name length, 2 rest of header, 3 data, 4 the file ended and the next
    // transfer waits for release(), 5 the file ended at the buffer's end and the rest of
    // its announced data is dropped as it comes.
    qint16 CaptureState = 0;
    int CaptureNameLength = 0;
    quint32 CaptureLength = 0; // announced length, unsigned 32-bit
    qint32 CaptureCount = 0;   // data bytes of the file kept in CaptureBuffer
    QByteArray CaptureBuffer;  // data bytes 0 .. CaptureCount - 1 of the file
    // The file that ended last was saved or given up; cleared when the first header byte
    // is read and when a file ends.
    bool CaptureSaved = false;
    QString CaptureName; // decoded name

    // Every byte the path has taken off the serial object, by where it went, since it
    // was made: header bytes, file data kept, data dropped (past the buffer's end) and
    // bytes handed back to be shown.
    struct Taken {
        qint64 header = 0;
        qint64 kept = 0;
        qint64 dropped = 0;
        qint64 shown = 0;
    };
    const Taken& taken() const { return taken_; }

  signals:
    // The first byte was not D7; emitted once until reset(). Nothing more is taken from
    // the line until then: the rejected byte and all after it wait for drainLeftover.
    void badHeader();
    // The marker D7 was read: a header has begun.
    void markerRead();
    // The name length was read.
    void headerStarted();
    void headerRead(const QString& name, quint32 length);
    // Data bytes arrived in this pass, kept or (beyond the buffer) dropped: the line is
    // not silent.
    void dataArrived();
    // At most every 50 ms, and always when a pass reaches the announced length.
    void progress(qint32 count);
    // The file reached its announced length (at once for a length of 0): CaptureBuffer
    // holds exactly its CaptureCount bytes, and the path waits for release().
    void fileComplete();
    // The announced length does not fit: the file ends at the buffer's end, which it
    // fills. The rest of its data is dropped as it comes, until its announced end or
    // endTransfer(); the next transfer then waits for release() as after a complete file.
    void overflow();
    // endTransfer() ended a file short of its announced length (count > 0).
    void fileCutShort(qint32 count);
    // drainLeftover's text: hex pairs "41:42:" when hex (binary input mode), else the
    // decoded characters; `bytes` is how many bytes it was read from.
    void leftover(const QString& text, bool hex, int bytes);

  private:
    // One state step; false when the pass must stop (bytes missing, rejected, or a file
    // ended).
    bool step();
    void takeData();
    void dropData();
    // The file ended (state 3 → 4 or 5); the next transfer waits for release().
    void fileEnded(qint16 next);
    void backToMarker();

    CommControl& comm_;
    bool rejected_ = false;
    // Data bytes of this transfer taken so far, kept or dropped: the announced length
    // counts them all.
    quint32 received_ = 0;
    QElapsedTimer sinceProgress_;
    Taken taken_;
};
