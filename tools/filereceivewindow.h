#pragma once

#include <QByteArray>
#include <QTimer>
#include <QWidget>

class AppContext;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// "文件捕捉": receives one file sent by a peer's file send and lets the user save it.
// While it is open the reply parser hands every receive pass to the context's capture
// path; this window shows what the path reads, detects the end of the data by 300 ms of
// silence and writes the captured bytes. Modal and on top of every other window.
class FileReceiveWindow : public QWidget {
    Q_OBJECT
  public:
    explicit FileReceiveWindow(AppContext& ctx);
    ~FileReceiveWindow() override;

    void Form_Load();
    void Command1_Click(); // 保存
    void Command2_Click(); // 取消
    // 300 ms without a byte after the data began: the file is complete, or it came up
    // short. 300 ms without a byte in the middle of a header: the header is cut short.
    void Timer1_Timer();
    // 4 s after a completed file: the idle display again.
    void Timer2_Timer();
    // Writes the completed file's bytes as the whole content of `path` (a device or a
    // pipe is written into, never replaced); tells the user and returns false when that
    // fails.
    bool SaveCapturedFile(const QString& path);

    QLabel* Label1;
    QLineEdit* Text1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QProgressBar* ProgressBar1;
    QLabel* Label2;
    QPushButton* Command1;
    QPushButton* Command2;
    QTimer Timer1;
    QTimer Timer2;

    // Bytes of the completed file, and whether it has been neither saved nor given up.
    qint32 CaptureSaveCount = 0;
    bool CaptureUnsaved = false;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // While a header is being taken the path waits for all of it in one event, so its
    // silence is timed from what reaches the input buffer.
    void headerBytesArrived();
    void headerStarted();
    void headerRead(const QString& name, quint32 length);
    void showCount(qint32 count);
    void badHeader();
    void overflow();
    // The line went away: nothing more can come. Data captured so far is kept for
    // saving; a header in progress is dropped. The program tells the user of the loss.
    void lineLost();
    // Gives the receive passes back to the parser (once).
    void stopCapture();

    AppContext& ctx_;
    bool capturing_ = false;
    // The captured data ran past the buffer: what fits is the file.
    bool overflowed_ = false;
    // The name as the far end announced it, and the completed file's bytes, kept apart
    // from the capture buffer so that a next transfer cannot change what is saved.
    QString receivedName_;
    QByteArray completed_;
};

// The name proposed for saving a file whose name came from the far end: its last path
// component, without "..", path separators or control characters, and trimmed. Empty
// when nothing usable is left.
QString ProposedSaveName(const QString& received);
