#pragma once

#include <QByteArray>
#include <QTimer>
#include <QWidget>

class AppContext;
class PacedSender;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// "文件发送": sends one file of at most 1,000,000 bytes over the radio link. A header
// announces the file's name and length; one second after it has left, the file's bytes
// follow at the port's pace with the count and the progress bar following the wire. The
// window is modal and stays above the others. Closing it unloads it (a send under way is
// stopped first).
class FileTrWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr qint64 kMaxFileLength = 1000000;

    explicit FileTrWindow(AppContext& ctx);
    ~FileTrWindow() override;

    void Form_Load();
    // Shows the window modal (input to every other window is blocked) and in front.
    void showModal();

    void Command4_Click(); // 浏览
    void Command5_Click(); // 开始传输
    void Command6_Click(); // 停止传输

    // D7, the name's byte count, the name bytes, "*", the length most significant first.
    static QByteArray FileHeader(const QByteArray& nameBytes, quint32 length);
    static QByteArray EncodeFileLength(quint32 length);

    // From "开始传输" until the send has ended and DTR is back on.
    bool busy() const { return phase_ != Phase::Idle; }

    QLineEdit* Text1;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label9;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label10;
    QProgressBar* PBar1;
    QLabel* Label1;
    QTimer Timer1; // restores Label1's caption 5 s after a send
    QTimer Timer2; // the pause between the header and the data
    QTimer Timer3; // DTR back on 50 ms after a send ended before its data

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    enum class Phase {
        Idle,
        Header,    // the header is leaving
        Pause,     // Timer2 runs
        Data,      // the paced sender has the data
        Restoring, // stopped before the data; Timer3 runs
    };

    // Browse and start enabled (start only with a file chosen) and stop disabled, or
    // the other way round.
    void comd(bool idle);
    // Forgets the chosen file and shows "******".
    void clearChoice();
    void headerLeft();
    void Timer2_Timer();
    void Timer3_Timer();
    // The send is over: the result shows for five seconds and the window is idle again.
    void endSend(bool completed);
    void portLost();
    void senderFailed(const QString& reason);
    void tell(const QString& text);

    AppContext& ctx_;
    PacedSender* sender_ = nullptr;
    Phase phase_ = Phase::Idle;

    QString FilePath;
    QByteArray nameBytes_; // the short name in the ANSI code page
    qint64 FileLength = 0;
    QByteArray FileData;
    bool fileChosen_ = false;
    bool FileSendStop = false;
    bool lost_ = false;         // the port went away during this send
    bool closePending_ = false; // closed while sending: unload once the send has ended
};
