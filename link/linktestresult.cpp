#include "link/linktestresult.h"

#include <QJsonDocument>
#include <QJsonObject>

void LinkTally::expect(quint16 total) {
    if (total_ == 0 && total > 0) {
        total_ = total;
        seen_.fill(false, total);
    }
}

bool LinkTally::good(quint16 seq, quint16 total) {
    expect(total);
    if (total != total_ || seq >= total_) {
        ++corrupted_;
        return false;
    }
    if (seen_.at(seq)) {
        ++duplicated_;
        return true;
    }
    seen_[seq] = true;
    ++good_;
    if (seq < highest_)
        ++outOfOrder_;
    else
        highest_ = seq;
    return true;
}

double LinkTally::windowPer(int window) const {
    if (highest_ < 0 || window <= 0)
        return 0;
    const int from = qMax(0, highest_ - window + 1);
    int missing = 0;
    for (int s = from; s <= highest_; ++s)
        missing += seen_.at(s) ? 0 : 1;
    return double(missing) / (highest_ - from + 1);
}

QString LinkTestResult::verdictText() const {
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("PASS");
    case Verdict::Fail:
        return QStringLiteral("FAIL");
    case Verdict::None:
        break;
    }
    return QStringLiteral("SENT");
}

QString ModuleSettingsJson(const ModuleParameters& params) {
    QJsonObject o;
    for (const ModuleParameters::Field& f : ModuleParameters::fields())
        if (params.*(f.present))
            o.insert(QString::fromLatin1(f.name), params.*(f.text));
    return o.isEmpty() ? QString()
                       : QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}
