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
// taken as it comes, everything buffered in one read. The window owns what the signals
// show, the silence that ends a transfer and the saving.
class CapturePath : public QObject, public ReceiveRoute {
    Q_OBJECT
  public:
    static constexpr qint32 kBufferSize = 1003001;

    explicit CapturePath(CommControl& comm, QObject* parent = nullptr);

    // Takes what is buffered as far as the state allows: several header steps and the
    // data may go in one pass; a header still short of bytes waits for the next event.
    void receivePass() override;
    // Back to waiting for the header (state 0, count 0); threshold and read length 1/1.
    // CaptureBuffer keeps the last file's data, so a completed file can still be saved;
    // the next file's data replaces it.
    void reset();
    // Shows what is still buffered after a bad header closed the window, the rejected
    // byte first: reads all of it in the current input mode and emits leftover();
    // threshold/read length back to 1/1.
    void drainLeftover();

    qint16 CaptureState = 0; // 0 marker, 1 name length, 2 rest of header, 3 data
    int CaptureNameLength = 0;
    quint32 CaptureLength = 0; // announced length, unsigned 32-bit
    qint32 CaptureCount = 0;
    QByteArray CaptureBuffer;  // data bytes 0 .. CaptureCount - 1 of the file
    bool CaptureSaved = false; // cleared when the first header byte is read
    QString CaptureName;       // decoded name

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
    // Data beyond kBufferSize arrived: it is dropped, what was captured stays. Once per
    // file.
    void overflow();
    // drainLeftover's text: hex pairs "41:42:" when hex (binary input mode), else the
    // decoded characters.
    void leftover(const QString& text, bool hex);

  private:
    // One state step; false when the pass must stop (bytes missing, or rejected).
    bool step();
    void takeData();

    CommControl& comm_;
    bool rejected_ = false;
    bool overflowTold_ = false;
    QElapsedTimer sinceProgress_;
};
