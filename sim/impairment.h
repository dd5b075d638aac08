#pragma once

// The simulated radio's faults: one direction of the link loses, corrupts or
// duplicates link-test packets, each a percentage of them, chosen by a seeded
// generator, and writes every action to a shared log.
//
// A "radio packet" is one link-test packet (55 AA, seq, total, length n,
// n payload bytes, CRC) as the radio data carries it. Bytes outside such a
// packet pass unchanged: a file or a data string is not impaired. A packet's
// bytes are held until it is complete (a 55 at the end of the data waits for
// the byte after it), at most until flush().
// Corruption changes one byte of seq, total, payload or CRC, never the 55 AA
// or the length: a packet with those changed cannot be told from stray bytes,
// so a receiver would count it lost, not corrupted, and the log would not be
// the truth of what it counts.

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

namespace t83sim {

struct ImpairOptions {
    double lossPercent = 0;
    double corruptPercent = 0;
    double duplicatePercent = 0;
    quint32 seed = 1;
    QString logPath; // empty: no log

    bool any() const { return lossPercent > 0 || corruptPercent > 0 || duplicatePercent > 0; }
};

// One line per action: "<direction> <n> seq <s> lost|corrupted|duplicated ...", n
// counting the packets of that direction from 1.
class ImpairLog {
  public:
    // False with `error` when the file cannot be written.
    bool open(const QString& path, QString* error);
    void write(const QString& line);

  private:
    QFile file_;
};

class Impairer {
  public:
    // `direction` names the direction in the log; `log` may be null.
    Impairer(const ImpairOptions& options, quint32 seed, const QString& direction, ImpairLog* log);

    // Radio data going out: returns what the radio delivers now.
    QByteArray pass(QByteArrayView data);
    // Releases a packet held incomplete (the sender stopped part-way), as it is.
    QByteArray flush();
    bool holding() const { return !held_.isEmpty(); }

  private:
    void packet(const QByteArray& bytes, QByteArray* out);

    ImpairOptions options_;
    QRandomGenerator random_;
    QString direction_;
    ImpairLog* log_;
    QByteArray held_;
    qint64 packets_ = 0;
};

} // namespace t83sim
