#pragma once

#include "cli/cliport.h"
#include "cli/command.h"
#include "cli/options.h"
#include "link/productionrun.h"
#include "records/resultsdb.h"

#include <QTimer>
#include <memory>

// read, write, save-profile and apply: the production station's sequence on one module
// (probe, read, write what differs, read back and compare), or only its reads.
class ModuleCommand : public Command {
    Q_OBJECT
  public:
    ModuleCommand(const CliOptions& options, QObject* parent = nullptr);
    void start() override;

    // However the engine's steps are timed, a command never runs longer than this.
    static constexpr int kOverallTimeoutMs = 60000;

  protected:
    void cleanup() override;

  private:
    enum class Kind { Read, Write, SaveProfile, Apply };
    // The profile the command runs, or an exit status.
    std::optional<int> prepare();
    void onFinished(const RunResult& result);
    void reportRead(const RunResult& result);
    void saveProfile(const RunResult& result);
    void reportRun(const RunResult& result);
    // The status of a write or apply run that did not pass.
    int failureStatus(const RunResult& result) const;
    void failWith(int status, const QString& message);

    CliOptions options_;
    Kind kind_;
    SettingsStore store_;
    CliPort port_;
    ProductionRun run_;
    ModuleProfile profile_;
    QByteArray profileBytes_;
    std::unique_ptr<ResultsDatabase> db_;
    QTimer overall_;
    bool answered_ = false;
    bool refused_ = false; // the module answered a write F7 or FF
};
