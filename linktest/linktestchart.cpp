#include "linktest/linktestchart.h"

#include <QChart>
#include <QLineSeries>
#include <QPixmap>
#include <QScatterSeries>
#include <QValueAxis>

LinkTestChart::LinkTestChart(QWidget* parent)
    : QChartView(parent), per_(new QLineSeries), rtt_(new QScatterSeries), seqAxis_(new QValueAxis),
      perAxis_(new QValueAxis), rttAxis_(new QValueAxis) {
    auto* chart = new QChart;
    chart->setMargins(QMargins(4, 4, 4, 4));
    per_->setName(QStringLiteral("误包率(最近50包) %"));
    rtt_->setName(QStringLiteral("往返时间 ms"));
    rtt_->setMarkerSize(4);
    rtt_->setBorderColor(Qt::transparent);
    chart->addSeries(per_);
    chart->addSeries(rtt_);
    seqAxis_->setTitleText(QStringLiteral("包序号"));
    seqAxis_->setLabelFormat(QStringLiteral("%d"));
    perAxis_->setTitleText(QStringLiteral("%"));
    rttAxis_->setTitleText(QStringLiteral("ms"));
    chart->addAxis(seqAxis_, Qt::AlignBottom);
    chart->addAxis(perAxis_, Qt::AlignLeft);
    chart->addAxis(rttAxis_, Qt::AlignRight);
    per_->attachAxis(seqAxis_);
    per_->attachAxis(perAxis_);
    rtt_->attachAxis(seqAxis_);
    rtt_->attachAxis(rttAxis_);
    setChart(chart);
    setRenderHint(QPainter::Antialiasing);
    clear(1000);
}

void LinkTestChart::clear(int expectedCount) {
    per_->clear();
    rtt_->clear();
    perTop_ = 5;
    rttTop_ = 10;
    seqAxis_->setRange(0, qMax(1, expectedCount - 1));
    perAxis_->setRange(0, perTop_);
    rttAxis_->setRange(0, rttTop_);
}

void LinkTestChart::setCount(int count) {
    if (count > 0 && seqAxis_->max() != count - 1)
        seqAxis_->setRange(0, qMax(1, count - 1));
}

void LinkTestChart::addSample(int seq, double windowPerPercent, double rttMs) {
    per_->append(seq, windowPerPercent);
    if (windowPerPercent > perTop_) {
        perTop_ = qMin(100.0, windowPerPercent * 1.25);
        perAxis_->setRange(0, perTop_);
    }
    if (rttMs >= 0) {
        rtt_->append(seq, rttMs);
        if (rttMs > rttTop_) {
            rttTop_ = rttMs * 1.25;
            rttAxis_->setRange(0, rttTop_);
        }
    }
    if (seq > seqAxis_->max())
        seqAxis_->setMax(seq);
}

bool LinkTestChart::savePng(const QString& path) {
    return grab().save(path, "PNG");
}
