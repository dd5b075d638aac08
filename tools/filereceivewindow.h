#pragma once

#include "app/userdialogs.h"

#include <QByteArray>
#include <QTimer>
#include <QWidget>

class AppContext;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// "文件捕捉": receives the files sent by a peer's file send and lets the user save them.
// While it is open the reply parser hands every receive pass to the context's capture
// path; this window shows what the path reads and writes the captured bytes. A file is
// complete at its announced length; 300 ms of silence before that ends it short, and what
// came stays saveable. A file that ended holds the next one back until it is saved or
// given up. Modal and on top of every other window. What arrives is told with notices
// that never hold up the line.
class FileReceiveWindow : public QWidget {
    Q_OBJECT
  public:
    explicit FileReceiveWindow(AppContext& ctx);
    ~FileReceiveWindow() override;

    void Form_Load();
    void Command1_Click(); // 保存
    void Command2_Click(); // 取消
    // 300 ms without a byte after the data began: the file came up short (what came is
    // kept for saving), or the rest of a file past the buffer is over. 300 ms without a
    // byte in the middle of a header: the header is cut short.
    void Timer1_Timer();
    // 4 s after a file ended: the idle display again.
    void Timer2_Timer();
    // Writes the kept file's bytes as the whole content of `path` (a device or a pipe is
    // written into, never replaced); tells the user and returns false when that fails.
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

    // Bytes of the file that ended last, and whether it has been neither saved nor given
    // up.
    qint32 CaptureSaveCount = 0;
    bool CaptureUnsaved = false;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Bytes reached the input buffer. While a header is being taken the path waits for
    // all of it in one event, so its silence is timed from them; behind a file that
    // ended they wait, and the user is told.
    void lineBytesArrived();
    // Bytes wait behind a file that ended: they are taken once it is saved or given up.
    void showWaiting();
    void headerStarted();
    void headerRead(const QString& name, quint32 length);
    void showCount(qint32 count);
    void fileComplete();
    // The first byte is no marker: what arrived goes to the receive window, and the
    // window closes once the user has read why.
    // The first byte is no marker: what arrived goes to the receive window, and the
    // window closes once the user has read why.
    void badHeader();
    void closeAfterNotice();
    void overflow();
    // The file ended: its bytes are kept for saving, short of its announced length when
    // `partial`.
    void keep(qint32 count, bool partial);
    // After the notice of a file's end: "保存" is offered and the idle display follows.
    void offerSave();
    // The kept file was saved or given up: the next transfer is taken.
    void fileDone();
    // A notice owned by this window; `then` runs once the user has closed it, unless the
    // window is gone by then.
    void notify(const QString& text, UserDialogs::Icon icon, void (FileReceiveWindow::*then)());
    // The line went away: nothing more can come. Data captured so far is kept for
    // saving; a header in progress is dropped. The program tells the user of the loss.
    void lineLost();
    // Gives the receive passes back to the parser (once).
    void stopCapture();

    AppContext& ctx_;
    bool capturing_ = false;
    // The name of the transfer under way, as the far end announced it.
    QString incomingName_;
    // The kept file: its name, its bytes (apart from the capture buffer, so that a next
    // transfer cannot change what is saved) and whether it is short of its length.
    QString receivedName_;
    QByteArray completed_;
    bool partial_ = false;
};

// The name proposed for saving a file whose name came from the far end: its last path
// component, without "..", path separators or control characters, and trimmed. Empty
// when nothing usable is left.
QString ProposedSaveName(const QString& received);
