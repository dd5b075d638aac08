// The file-capture window on a started program: a file announced and received from the
// far end, complete at its announced length, saving, files back to back, a file cut
// short, a bad header that goes to the receive window whole, data past the buffer,
// saving onto a device or a pipe, the name proposed for saving, and the commands that
// open the window; its messages and save dialog open above it, and save follows the
// message that the file is complete.
#include "app/appcontext.h"
#include "app/father.h"
#include "link/capturepath.h"
#include "tests/support/appfixture.h"
#include "tests/support/fileheader.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/filereceivewindow.h"
#include "ui/showdata.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {
const QString kComplete = QStringLiteral("文件接收完毕!");
const QByteArray kABinData = QByteArray::fromHex("00D7FE0102D7FDFF4142");

} // namespace

class TestFileReceive : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;

    FileReceiveWindow* open() {
        ctx->showFileCapture();
        return ctx->loaded<FileReceiveWindow>();
    }
    // Feeds a whole transfer and waits for the window to call it complete.
    [[nodiscard]] bool receive(const QByteArray& name, const QByteArray& data) {
        const qsizetype before = app.dialogs->texts().count(kComplete);
        line->feed(fileHeader(name, data.size()) + data);
        return QTest::qWaitFor([&] { return app.dialogs->texts().count(kComplete) > before; });
    }
    // Saves the completed file through the save dialog and reads it back.
    QByteArray saveAndRead(FileReceiveWindow* w) {
        const QString path = QDir(testenv::workDir()).filePath(QStringLiteral("saved.bin"));
        app.dialogs->fileNames.enqueue(path);
        w->Command1->click();
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }

  private slots:
    void init() { app.start(); }
    void cleanup() { app.stop(); }

    void aFileIsCapturedAndSavedAsSent() {
        FileReceiveWindow* w = open();
        QVERIFY(w->ProgressBar1->isHidden());
        line->feed(fileHeader("a.bin", 10));
        QTRY_COMPARE(w->Text1->text(), QStringLiteral("a.bin"));
        QCOMPARE(w->Label4->text(), QStringLiteral("10"));
        QVERIFY(!w->ProgressBar1->isHidden());
        QVERIFY(w->Label2->isHidden());

        line->feed(kABinData.left(6));
        QTRY_COMPARE(w->Label7->text(), QStringLiteral("6"));
        QTest::qWait(100); // a pause shorter than the silence that ends a file
        QVERIFY(app.dialogs->messages.isEmpty());
        // The file is complete at its announced length, not after a silence.
        w->Timer1.setInterval(60000);
        line->feed(kABinData.mid(6));
        QTRY_COMPARE(w->Label7->text(), QStringLiteral("10"));
        QTRY_VERIFY(app.dialogs->texts().contains(kComplete));
        QVERIFY(w->Command1->isEnabled());

        QCOMPARE(saveAndRead(w).toHex(), kABinData.toHex());
        QCOMPARE(app.dialogs->proposedNames, QStringList{QStringLiteral("a.bin")});

        // Saved: closing asks nothing and gives the link back to the reply parser.
        const qsizetype shown = app.dialogs->messages.size();
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->messages.size(), shown);
        QVERIFY(!ctx->link().parser.receiveRoute());
    }

    // Files sent back to back: each ends at its announced length. "文件接收完毕!" comes
    // first; Save and the 4 s to the idle display follow its dismissal. The next file,
    // arriving meanwhile, waits until this one is saved, then it is taken whole.
    void filesBackToBackAreSavedOneAfterTheOther_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::newRow("two files") << QByteArray("0123\xD7");
        QTest::newRow("an empty file first") << QByteArray();
    }
    void filesBackToBackAreSavedOneAfterTheOther() {
        QFETCH(QByteArray, first);
        const QByteArray second("abcde");
        FileReceiveWindow* w = open();
        app.dialogs->holdNotices = true;
        line->feed(fileHeader("one.txt", first.size()) + first);
        QTRY_COMPARE(app.dialogs->texts(), QStringList{kComplete});
        QVERIFY(!w->Command1->isEnabled());
        QVERIFY(!w->Timer2.isActive());
        QVERIFY(!w->ProgressBar1->isHidden());

        QTest::qWait(100);
        line->feed(fileHeader("two.txt", second.size()) + second);
        const QByteArray next = fileHeader("two.txt", second.size()) + second;
        QTRY_COMPARE(ctx->link().MSComm1.InBufferCount(), next.size());
        QCOMPARE(w->Text1->text(), QStringLiteral("one.txt"));

        app.dialogs->dismissNotices();
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(w->Timer2.isActive());
        QCOMPARE(saveAndRead(w).toHex(), first.toHex());
        QTRY_COMPARE(app.dialogs->texts(), QStringList({kComplete, kComplete}));
        QCOMPARE(w->Text1->text(), QStringLiteral("two.txt"));
        app.dialogs->dismissNotices();
        QCOMPARE(saveAndRead(w), second);
        QCOMPARE(app.dialogs->proposedNames,
                 QStringList({QStringLiteral("one.txt"), QStringLiteral("two.txt")}));
        QCOMPARE(ctx->link().MSComm1.InBufferCount(), 0);
    }

    // Bytes past the announced length are no part of the file: they begin the next
    // transfer, here no transfer at all, so they end up in the receive window.
    void bytesPastTheLengthAreNotTheFiles() {
        FileReceiveWindow* w = open();
        line->feed(fileHeader("d.bin", 10) + kABinData + QByteArray("0123456789"));
        QTRY_VERIFY(app.dialogs->texts().contains(kComplete));
        QCOMPARE(w->Label4->text(), QStringLiteral("10"));
        QCOMPARE(w->Label7->text(), QStringLiteral("10"));
        QCOMPARE(saveAndRead(w).toHex(), kABinData.toHex());
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->texts(),
                 QStringList({kComplete, QStringLiteral("收到数据不符合协议!")}));
        QTRY_COMPARE(ctx->showdata()->Text1->toPlainText(),
                     QStringLiteral("30:31:32:33:34:35:36:37:38:39:\n"));
    }

    // A transfer that stops short (the sender's "停止传输") keeps what came for saving, as
    // a lost line does; closing then gives the link back to the receive window.
    void aFileCutShortStaysSaveable() {
        FileReceiveWindow* w = open();
        line->feed(fileHeader("a.bin", 5) + QByteArray::fromHex("010203"));
        QTRY_COMPARE(app.dialogs->texts(), QStringList{QStringLiteral("文件接收超时!")});
        QCOMPARE(app.dialogs->messages[0].icon, UserDialogs::Icon::Exclamation);
        QVERIFY(w->isVisible());
        QVERIFY(w->Command1->isEnabled());
        QCOMPARE(w->Label7->text(), QStringLiteral("3"));
        QCOMPARE(saveAndRead(w).toHex(), QByteArray("010203"));
        QCOMPARE(app.dialogs->proposedNames, QStringList{QStringLiteral("a.bin.part")});
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->messages.size(), 1);
        line->feed(QByteArray::fromHex("41"));
        QTRY_COMPARE(ctx->showdata()->Text1->toPlainText(), QStringLiteral("41:"));
    }

    void aHeaderIsTimedFromItsBytesAndOnlyACutOneTimesOut() {
        // Trickling in slower than the silence, byte by byte: still one header; then the
        // sender's pause before the data is no time-out.
        FileReceiveWindow* w = open();
        for (char byte : fileHeader("a.bin", 10)) {
            line->feed(QByteArray(1, byte));
            QTest::qWait(120);
        }
        QTRY_COMPARE(w->Text1->text(), QStringLiteral("a.bin"));
        QTest::qWait(450);
        QVERIFY(app.dialogs->messages.isEmpty());
        line->feed(kABinData);
        QTRY_VERIFY(app.dialogs->texts().contains(kComplete));
        QCOMPARE(app.dialogs->messages.size(), 1);

        // Once that file is saved, a header that stops half way ends in a time-out, not
        // a wait for ever.
        saveAndRead(w);
        line->feed(fileHeader("b.bin", 10).left(4));
        QTRY_VERIFY(app.dialogs->texts().contains(QStringLiteral("文件接收超时!")));
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->messages.size(), 2);
        QVERIFY(!ctx->link().parser.receiveRoute());
        QCOMPARE(ctx->link().MSComm1.RThreshold(), 1);
    }

    void aLostLineKeepsWhatCameAndWaitsForNothing_data() {
        QTest::addColumn<QByteArray>("arrived");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("kept");
        QTest::newRow("mid-data") << fileHeader("a.bin", 10) + kABinData.left(3) << 3
                                  << kABinData.left(3);
        QTest::newRow("mid-header") << fileHeader("a.bin", 10).left(3) << 2 << QByteArray();
    }
    void aLostLineKeepsWhatCameAndWaitsForNothing() {
        QFETCH(QByteArray, arrived);
        QFETCH(int, state);
        QFETCH(QByteArray, kept);
        FileReceiveWindow* w = open();
        line->feed(arrived);
        QTRY_COMPARE(int(ctx->capture().CaptureState), state);
        QTRY_COMPARE(ctx->capture().CaptureCount, qint32(kept.size()));
        line->unplug();
        QTRY_COMPARE(app.dialogs->messages.size(), 1); // the program's lost-port message
        QTest::qWait(450);
        QCOMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(w->isVisible());
        // What came waits to be saved before a next file is taken.
        QCOMPARE(ctx->capture().CaptureState, kept.isEmpty() ? 0 : 4);
        QCOMPARE(ctx->link().MSComm1.RThreshold(), 1);
        QCOMPARE(w->Command1->isEnabled(), !kept.isEmpty());
        if (!kept.isEmpty()) {
            QCOMPARE(saveAndRead(w).toHex(), kept.toHex());
            QCOMPARE(app.dialogs->proposedNames, QStringList{QStringLiteral("a.bin.part")});
            QCOMPARE(ctx->capture().CaptureState, 0);
        }
    }

    void aBadFirstByteClosesAndTheRestIsShown_data() {
        QTest::addColumn<bool>("characters");
        QTest::newRow("hex display") << false;
        QTest::newRow("character display") << true;
    }
    // The rejected byte is shown with the rest: nothing received disappears.
    void aBadFirstByteClosesAndTheRestIsShown() {
        QFETCH(bool, characters);
        ReceiveBox* box = ctx->showdata()->Text1;
        if (characters) {
            ctx->father()->toolButton(11)->click();
            box->setPlainText(QString(2398, QLatin1Char('x')));
        }
        open();
        line->feed(QByteArray::fromHex("41D6D042"));
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->messages.size(), 1);
        QCOMPARE(app.dialogs->messages[0].text, QStringLiteral("收到数据不符合协议!"));
        QCOMPARE(app.dialogs->messages[0].title, QStringLiteral("提示"));
        QCOMPARE(app.dialogs->messages[0].icon, UserDialogs::Icon::Information);
        if (characters) {
            QCOMPARE(box->toPlainText().size(), 2100);
            QVERIFY(box->toPlainText().endsWith(QStringLiteral("xA中B")));
        } else {
            // Timer7 ends the burst with a line break.
            QTRY_COMPARE(box->toPlainText(), QStringLiteral("41:D6:D0:42:\n"));
        }
    }

    void anUnsavedFileIsAskedForOnceAndAGivenUpOneNotAtAll() {
        const QString question = QStringLiteral("接收的文件尚未保存，是否保存?");
        FileReceiveWindow* w = open();
        QVERIFY(receive("a.bin", kABinData));
        app.dialogs->answers.enqueue(UserDialogs::Answer::Ok); // keep the window to save
        w->Command2->click();
        QCOMPARE(app.dialogs->texts().count(question), 1);
        QVERIFY(w->isVisible());
        QVERIFY(!ctx->link().parser.receiveRoute()); // it no longer captures, and says so
        QVERIFY(w->ProgressBar1->isHidden());
        QVERIFY(w->Label2->isVisible());
        QCOMPARE(w->Label2->text(), QStringLiteral("已停止接收,请保存文件后关闭窗口"));
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->texts().count(question), 1);

        w = open();
        QVERIFY(receive("a.bin", kABinData));
        w->Command1->click(); // the save dialog is cancelled
        QCOMPARE(w->Text1->text(), QStringLiteral("******"));
        QCOMPARE(w->Label4->text(), QStringLiteral("******"));
        QCOMPARE(w->Label7->text(), QStringLiteral("******"));
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->texts().count(question), 1);
    }

    // The window stays on top of the main window: a message or the save dialog owned by
    // the main window would open beneath it and leave it looking frozen.
    void itsMessagesAndSaveDialogOpenAboveIt() {
        FileReceiveWindow* w = open();
        QVERIFY(receive("a.bin", kABinData));
        saveAndRead(w);
        QVERIFY(receive("a.bin", kABinData));
        app.dialogs->answers.enqueue(UserDialogs::Answer::Cancel); // not kept: close
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(
            app.dialogs->texts(),
            QStringList({kComplete, kComplete, QStringLiteral("接收的文件尚未保存，是否保存?")}));
        for (const ScriptedDialogs::Shown& shown : app.dialogs->messages)
            QVERIFY2(shown.parent == w, qPrintable(shown.text));
        QCOMPARE(app.dialogs->fileDialogParents, QList<QWidget*>{w});

        w = open();
        line->feed(fileHeader("a.bin", 5) + QByteArray::fromHex("010203"));
        QTRY_COMPARE(app.dialogs->messages.last().text, QStringLiteral("文件接收超时!"));
        QVERIFY(app.dialogs->messages.last().parent == w);
        app.dialogs->answers.enqueue(UserDialogs::Answer::Cancel); // not kept: close
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());

        w = open();
        line->feed(QByteArray::fromHex("41"));
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->messages.last().text, QStringLiteral("收到数据不符合协议!"));
        QVERIFY(app.dialogs->messages.last().parent == w);

        // Closed, the window gives the dialogs back to the main window.
        line->unplug();
        QTRY_VERIFY(app.dialogs->messages.last().text.contains(QStringLiteral("的连接已断开")));
        QVERIFY(app.dialogs->messages.last().parent == ctx->mainWidget());
    }

    // Saving onto a device or a pipe writes into it; a new file renamed over it would
    // replace the node. A write that fails is told and the file stays unsaved.
    void savingOntoANodeWritesIntoItAndNeverReplacesIt() {
#ifdef Q_OS_UNIX
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pipe = dir.filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const auto kind = [](const QString& path) {
            struct stat st {};
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & S_IFMT
                                                                          : 0u;
        };
        const auto failed = [this] {
            return app.dialogs->messages.last().text.startsWith(QStringLiteral("无法保存文件"));
        };
        FileReceiveWindow* w = open();
        QVERIFY(receive("a.bin", kABinData));

        // A pipe with a reader takes the bytes.
        const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        app.dialogs->fileNames.enqueue(pipe);
        w->Command1->click();
        QByteArray got(64, '\0');
        got.truncate(std::max<ssize_t>(0, ::read(reader, got.data(), got.size())));
        ::close(reader);
        QCOMPARE(got.toHex(), kABinData.toHex());
        QCOMPARE(kind(pipe), unsigned(S_IFIFO));
        QCOMPARE(app.dialogs->texts(), QStringList{kComplete});

        // Nobody reads it: the save fails at once and says so.
        QVERIFY(receive("b.bin", kABinData));
        app.dialogs->fileNames.enqueue(pipe);
        w->Command1->click();
        QVERIFY(failed());
        QCOMPARE(kind(pipe), unsigned(S_IFIFO));

        // A device that takes no bytes, as /dev/full.
        const QString full = dir.filePath(QStringLiteral("full"));
        if (::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0600, makedev(1, 7)) == 0) {
            app.dialogs->fileNames.enqueue(full);
            w->Command1->click();
            QVERIFY(failed());
            QCOMPARE(kind(full), unsigned(S_IFCHR));
        } else {
            qInfo("no device node made (%s): the failing device is not tried", strerror(errno));
        }

        // Not saved: closing asks.
        app.dialogs->answers.enqueue(UserDialogs::Answer::Cancel);
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());
        QCOMPARE(app.dialogs->texts().last(), QStringLiteral("接收的文件尚未保存，是否保存?"));
#else
        QSKIP("device nodes and pipes are tried on Unix");
#endif
    }

    void theProposedNameIsAPlainFileName_data() {
        QTest::addColumn<QByteArray>("announced");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("a folder above, comma kept")
            << QByteArray("../x,y") << QStringLiteral("x,y");
        QTest::newRow("backslashes, control character") << QByteArray("dir\\sub\\b\x01"
                                                                      "c.txt")
                                                        << QStringLiteral("bc.txt");
        QTest::newRow("nothing left") << QByteArray("..") << QString();
    }
    void theProposedNameIsAPlainFileName() {
        QFETCH(QByteArray, announced);
        QFETCH(QString, proposed);
        FileReceiveWindow* w = open();
        QVERIFY(receive(announced, kABinData));
        QCOMPARE(w->Text1->text(), QString::fromLatin1(announced));
        w->Command1->click();
        QCOMPARE(app.dialogs->proposedNames, QStringList{proposed});
    }

    // A length of 4 GB: data past the buffer or data that stops short, one message
    // each, and what fits is saveable.
    void aFileTooLargeGetsOneMessageAndWhatFitsIsSaved_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("told");
        QTest::newRow("past the buffer")
            << CapturePath::kBufferSize + 100000
            << QStringLiteral("接收的数据超过了缓冲区的容量(1003001字节),超出的部分已丢弃;"
                              "已经接收的数据仍可保存。");
        QTest::newRow("2,000 bytes") << 2000 << QStringLiteral("文件接收超时!");
    }
    void aFileTooLargeGetsOneMessageAndWhatFitsIsSaved() {
        QFETCH(int, size);
        QFETCH(QString, told);
        QByteArray data(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 13 + i / 256);
        FileReceiveWindow* w = open();
        line->feed(fileHeader("big.bin", 0xFFFFFFFF));
        const CapturePath::Taken& taken = ctx->capture().taken();
        for (qsizetype at = 0; at < data.size(); at += 500000) {
            const QByteArray chunk = data.mid(at, 500000);
            line->feed(chunk);
            // Taken before the next arrives, as a line's pace allows.
            QTRY_COMPARE(taken.kept + taken.dropped, at + chunk.size());
        }
        QTRY_COMPARE(app.dialogs->texts(), QStringList{told});
        QTest::qWait(500); // the silence after the data
        QCOMPARE(app.dialogs->texts(), QStringList{told});
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(saveAndRead(w) == data.left(CapturePath::kBufferSize));
        QCOMPARE(app.dialogs->proposedNames, QStringList{QStringLiteral("big.bin.part")});
    }

    void f4AndTheReceiveChoiceOpenTheWindow() {
        Father* f = ctx->father();
        f->show();
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QTest::keyClick(f, Qt::Key_F4);
        FileReceiveWindow* w = ctx->loaded<FileReceiveWindow>();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowModality(), Qt::ApplicationModal);
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(ctx->link().parser.receiveRoute(), &ctx->capture());
        w->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());

        f->buttonMenuItem(QStringLiteral("key22"))->trigger();
        QTRY_VERIFY(ctx->loaded<FileReceiveWindow>());
        QCOMPARE(f->toolButton(3)->toolTip(), QStringLiteral("接收文件"));
        ctx->loaded<FileReceiveWindow>()->Command2->click();
        QTRY_VERIFY(!ctx->loaded<FileReceiveWindow>());

        app.restart();
        f = ctx->father();
        QCOMPARE(f->toolButton(3)->toolTip(), QStringLiteral("接收文件"));
        f->toolButton(3)->click();
        QVERIFY(ctx->loaded<FileReceiveWindow>());
    }
};

T83_TEST_MAIN(TestFileReceive)
#include "test_filereceive.moc"
