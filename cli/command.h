#pragma once

#include <QObject>
#include <QString>

// One t83ctl command, run from the event loop. It ends exactly once with done(status);
// a stop signal ends it at once through interrupt().
class Command : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    virtual void start() = 0;
    // SIGINT or SIGTERM: whatever is under way stops, DTR goes back on and the port
    // closes; the status is 128 plus the signal's number.
    void interrupt(int signo);

  signals:
    void done(int status);

  protected:
    // Ends the command (once): cleanup(), then done(status).
    void finish(int status);
    // Gives back what the command holds (the port above all); may run more than once.
    virtual void cleanup() {}
    bool finished() const { return finished_; }

  private:
    bool finished_ = false;
};

// Standard output and standard error, UTF-8, flushed at once.
void PrintOut(const QString& text);
void PrintErr(const QString& text);
