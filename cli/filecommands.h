#pragma once

#include "cli/cliport.h"
#include "cli/command.h"
#include "cli/options.h"

#include <QTimer>

class PacedSender;

// `send-file`: the file's header, a second's pause, then its data at the line's pace,
// DTR held off throughout as the file-send window does.
class SendFileCommand : public Command {
    Q_OBJECT
  public:
    SendFileCommand(const CliOptions& options, QObject* parent = nullptr);
    void start() override;

    static constexpr int kPauseMs = 1000;
    static constexpr int kDtrRestoreMs = 50;

  protected:
    void cleanup() override;

  private:
    void startData();
    void showProgress(qint64 sent, bool last);

    CliOptions options_;
    SettingsStore store_;
    CliPort port_;
    PacedSender* sender_ = nullptr;
    QByteArray data_;
    QTimer pause_;
    QTimer deadline_; // a line that stops taking bytes
    bool headerSent_ = false;
    bool progressShown_ = false;
};

// `capture`: waits for one file (its header, then its announced length of data) and
// saves it.
class CaptureCommand : public Command {
    Q_OBJECT
  public:
    CaptureCommand(const CliOptions& options, QObject* parent = nullptr);
    void start() override;

    // Once a file has begun, this long without a byte ends it as cut short (the sender
    // pauses a second between header and data).
    static constexpr int kSilenceMs = 3000;

  protected:
    void cleanup() override;

  private:
    void fileComplete();
    // What came of a file that did not end whole goes to FILE.partial.
    void keepPartial(int status, const QString& why);

    CliOptions options_;
    SettingsStore store_;
    CliPort port_;
    QTimer wait_;    // for the file to begin
    QTimer silence_; // once it has begun
};
