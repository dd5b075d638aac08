#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM, delivered to the event loop through a pipe written by the handler
// (the only thing a handler may safely do), so a command stops from its own code.
class StopSignals : public QObject {
    Q_OBJECT
  public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

  signals:
    void stopRequested(int signo);

  private:
    void readPipe();
    QSocketNotifier* notifier_ = nullptr;
};
