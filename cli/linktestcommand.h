#pragma once

#include "cli/cliport.h"
#include "cli/command.h"
#include "cli/options.h"
#include "link/linktest.h"
#include "link/productionrun.h"
#include "records/resultsdb.h"

#include <QTimer>
#include <memory>

// `linktest`: reads the module's settings (for the record), then runs the link test in
// the role asked for, records the result in the results database and reports it. PASS 0,
// FAIL 1; a sender that hears nothing back has no verdict and ends 0 once every packet
// has left (the receiver judges).
class LinkTestCommand : public Command {
    Q_OBJECT
  public:
    LinkTestCommand(const CliOptions& options, QObject* parent = nullptr);
    void start() override;

  protected:
    void cleanup() override;

  private:
    void onRead(const RunResult& result);
    void onFinished(const LinkTestResult& result);
    void failWith(int status, const QString& message);

    CliOptions options_;
    SettingsStore store_;
    CliPort port_;
    ProductionRun read_;
    LinkTest test_;
    std::unique_ptr<ResultsDatabase> db_;
    QString localSettings_;
    QTimer firstPacket_; // a listener or echo station that hears nothing
    QTimer overall_;     // whatever happens, the command ends
    bool heardNothing_ = false;
    bool timedOut_ = false;
};
