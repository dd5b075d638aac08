#pragma once

#include <QChartView>

class QLineSeries;
class QScatterSeries;
class QValueAxis;

// The link test's live chart: the packet error rate over the last 50 sequence numbers
// (left axis, %) and the round-trip time of each echo (right axis, ms), by sequence
// number.
class LinkTestChart : public QChartView {
    Q_OBJECT
  public:
    explicit LinkTestChart(QWidget* parent = nullptr);

    void clear(int expectedCount);
    // The run's total became known: the sequence axis spans it.
    void setCount(int count);
    void addSample(int seq, double windowPerPercent, double rttMs);
    // The chart as a PNG; false when it cannot be written.
    bool savePng(const QString& path);

  private:
    QLineSeries* per_;
    QScatterSeries* rtt_;
    QValueAxis* seqAxis_;
    QValueAxis* perAxis_;
    QValueAxis* rttAxis_;
    double rttTop_ = 10;
    double perTop_ = 5;
};
