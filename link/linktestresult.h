#pragma once

#include "protocol/moduleparameters.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

enum class LinkTestRole { Send, Receive, Echo };

// What arrived of a run of link-test packets, counted so that no packet counts twice:
//  - good: packets with a sound CRC and content, each sequence number once;
//  - duplicated: a good packet whose sequence number came already;
//  - out of order: a good, first-seen packet below the highest sequence number seen;
//  - corrupted: a packet whose CRC or content is wrong (its sequence number cannot be
//    trusted, so it stands for one of the numbers not seen);
//  - lost: the numbers of `total` neither seen good nor stood for by a corrupted packet,
//    total - good - corrupted.
// PER = (lost + corrupted) / total, so (total - good) / total.
class LinkTally {
  public:
    // A good packet. False when it belongs to another run (another total): it is then
    // counted as corrupted instead.
    bool good(quint16 seq, quint16 total);
    // The run's total is known beforehand (the sender counting its echoes).
    void expect(quint16 total);
    void corrupted() { ++corrupted_; }

    int total() const { return total_; }
    int received() const { return good_; }
    int corruptedCount() const { return corrupted_; }
    int duplicated() const { return duplicated_; }
    int outOfOrder() const { return outOfOrder_; }
    int lost() const { return total_ > 0 ? qMax(0, total_ - good_ - corrupted_) : 0; }
    // 0..1; 1 when nothing was heard at all.
    double per() const { return total_ > 0 ? double(total_ - good_) / total_ : 1.0; }
    bool seen(int seq) const { return seq >= 0 && seq < seen_.size() && seen_.at(seq); }
    int highest() const { return highest_; }
    // While packets still come: the numbers up to the highest seen that have not come
    // good (corrupted ones included), and their share of those numbers.
    int missingSoFar() const { return highest_ + 1 - good_; }
    double perSoFar() const { return highest_ >= 0 ? double(missingSoFar()) / (highest_ + 1) : 0; }
    // The share of the last `window` sequence numbers up to the highest seen that has
    // not arrived good (0..1).
    double windowPer(int window) const;

  private:
    QList<bool> seen_;
    int total_ = 0;
    int good_ = 0;
    int corrupted_ = 0;
    int duplicated_ = 0;
    int outOfOrder_ = 0;
    int highest_ = -1;
};

// One link test as it ended (or as far as it has come).
struct LinkTestResult {
    enum class Verdict { Pass, Fail, None }; // None: a sender that hears nothing back

    LinkTestRole role = LinkTestRole::Send;
    QDateTime startedAt;
    QDateTime finishedAt;
    int count = 0;         // packets to send (sender), or the run's total as heard
    int size = 0;          // payload bytes a packet
    double intervalMs = 0; // between packet starts (sender)
    double maxPerPercent = 0;
    bool echo = false; // counts are of echoes: both directions together
    int sent = 0;      // packets handed to the line (sender, echo station)
    int total = 0;     // from the packets heard; 0 when none was
    int received = 0;
    int corrupted = 0;
    int lost = 0;
    int duplicated = 0;
    int outOfOrder = 0;
    qint64 strayBytes = 0; // bytes that were part of no packet
    double per = 0;        // 0..1
    std::optional<double> rttMinMs, rttMeanMs, rttMaxMs;
    bool cutShort = false;
    QString cutReason;
    Verdict verdict = Verdict::None;

    // "PASS", "FAIL", or "SENT" for a sender without echoes (the receiver judges).
    QString verdictText() const;
};

// The settings a module answered with, as compact JSON ({"txfreque": "229100", …}) for a
// link test's record; empty when none was read.
QString ModuleSettingsJson(const ModuleParameters& params);
