// The reply parser over an in-memory line: idle display in hex and characters, listed
// replies stored into the parameter record, status replies, the port table and its file,
// CRC panel, unlisted codes, split payloads and a flood that must not hold the window.
#include "app/appcontext.h"
#include "app/father.h"
#include "config/promptwindow.h"
#include "link/replydisplay.h"
#include "link/replyparser.h"
#include "protocol/frames.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/commandwindow.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class TestReplyParser : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;
    ShowData* window = nullptr;

    QString shown() const { return window->Text1->toPlainText(); }
    QString logged() const { return ctx->window<CommandWindow>()->Text2->toPlainText(); }
    bool idle() const {
        return ctx->link().parser.ReplyState == 0 && ctx->MSComm1().RThreshold() == 1 &&
               ctx->MSComm1().InputLen() == 1 && !ctx->MSComm1().promptReads();
    }

  private slots:
    void init() {
        app.start();
        window = ctx->showdata();
        ctx->window<CommandWindow>(); // logging on
    }
    void cleanup() { app.stop(); }

    void hexByteIsAlwaysTwoUpperCaseDigits() {
        QCOMPARE(HexByte(0), QStringLiteral("00"));
        QCOMPARE(HexByte(9), QStringLiteral("09"));
        QCOMPARE(HexByte(10), QStringLiteral("0A"));
        QCOMPARE(HexByte(15), QStringLiteral("0F"));
        QCOMPARE(HexByte(16), QStringLiteral("10"));
        QCOMPARE(HexByte(255), QStringLiteral("FF"));
    }

    void everyReplyCodeHasItsPayloadLength() {
        const QMap<int, int> table{{0xEF, 6},  {0xF4, 2}, {0xE3, 2}, {0xE8, 1}, {0xA2, 2},
                                   {0xEC, 11}, {0xD2, 1}, {0xD5, 1}, {0xB7, 1}, {0xD8, 3},
                                   {0xC6, 4},  {0xE6, 1}, {0xAB, 1}, {0xA8, 1}, {0xF7, 0},
                                   {0xFA, 0},  {0xFD, 0}, {0xFF, 0}};
        for (int code = 0; code < 256; ++code)
            QVERIFY2(ReplyPayloadLength(static_cast<quint8>(code)) == table.value(code, -1),
                     qPrintable(HexByte(static_cast<quint8>(code))));
    }

    void frequencyReplyAmidDataIsStoredAndLogged() {
        line->feed(QByteArray::fromHex("41D7EF229100229100"));
        QTRY_VERIFY(ctx->params.m_rxfrequeb);
        QCOMPARE(shown(), QStringLiteral("41:"));
        QCOMPARE(ctx->params.m_txfreque, QStringLiteral("229100"));
        QCOMPARE(ctx->params.m_rxfreque, QStringLiteral("229100"));
        QVERIFY(ctx->params.m_txfrequeb);
        QCOMPARE(logged(), QStringLiteral("D7:EF:22:91:00:22:91:00:\n"));
        QVERIFY(idle());
        line->feed(QByteArray::fromHex("3A"));
        QTRY_COMPARE(shown(), QStringLiteral("41:3A:"));
    }

    void characterDisplayParsesNothing() {
        ctx->link().setDisplayFormat(Link::DisplayFormat::Text);
        line->feed(QByteArray::fromHex("41D7EF") + QByteArray("BCD"));
        QTRY_VERIFY(shown().endsWith(QStringLiteral("BCD")));
        QVERIFY(shown().startsWith(QStringLiteral("A")));
        QVERIFY(!ctx->params.m_txfrequeb);
        QCOMPARE(ctx->link().parser.ReplyState, qint16(0));
        QVERIFY(logged().isEmpty());
    }

    void payloadSplitAcrossArrivalsWaitsForItsLastByte() {
        line->feed(QByteArray::fromHex("D7"));
        QTRY_COMPARE(ctx->link().parser.ReplyState, qint16(1));
        line->feed(QByteArray::fromHex("EF2291"));
        QTRY_COMPARE(ctx->link().parser.ReplyState, qint16(2));
        QTRY_COMPARE(ctx->MSComm1().InBufferCount(), 2);
        QVERIFY(!ctx->params.m_txfrequeb); // never read short
        QCOMPARE(ctx->MSComm1().RThreshold(), 6);
        line->feed(QByteArray::fromHex("00"));
        QTRY_COMPARE(ctx->MSComm1().InBufferCount(), 3);
        line->feed(QByteArray::fromHex("235000"));
        QTRY_VERIFY(ctx->params.m_txfrequeb);
        QCOMPARE(ctx->params.m_txfreque, QStringLiteral("229100"));
        QCOMPARE(ctx->params.m_rxfreque, QStringLiteral("235000"));
        QVERIFY(idle());
        QVERIFY(shown().isEmpty());
    }

    void versionArrivingByteByByte() {
        const QByteArray version("T83 V2.10 A");
        line->feed(QByteArray::fromHex("D7EC"));
        // While the reply is taken, a line that rests between reads reads at once.
        QTRY_VERIFY(ctx->MSComm1().promptReads());
        for (char c : version) {
            QTest::qWait(2);
            line->feed(QByteArray(1, c));
        }
        QTRY_VERIFY(ctx->params.m_versionb);
        QCOMPARE(ctx->params.m_version, QString::fromLatin1(version));
        QCOMPARE(window->panel(4)->text(), QStringLiteral("软件:T83 V2.10 A"));
        QVERIFY(idle());
    }

    void tenByteVersionLeavesTheNextPromptReplyWhole() {
        // A module that answers the next request 40 ms later: well inside the read
        // cycle's 100 ms, so the version must already have been taken by then.
        QVERIFY(ctx->MSComm1().setSettings(QStringLiteral("9600,n,8,1")).ok());
        line->feed(QByteArray::fromHex("D7EC") + QByteArray("T83 V2.10X"));
        QTimer::singleShot(40, line, [this] { line->feed(QByteArray::fromHex("D7E803")); });
        QTRY_VERIFY(ctx->params.m_repeatb);
        QVERIFY(ctx->params.m_versionb);
        QCOMPARE(ctx->params.m_version, QStringLiteral("T83 V2.10X"));
        QCOMPARE(ctx->params.m_repeat, QStringLiteral("03"));
        QVERIFY(shown().isEmpty());
        QVERIFY(idle());
    }

    void modeRepliesMapTheirBytes() {
        ctx->params.m_typepower = QStringLiteral("省电");
        line->feed(QByteArray::fromHex("D7D200D7D5FFD7B7FFD7AB07D7A800D7D242"));
        QTRY_VERIFY(ctx->params.m_typepowerb && ctx->params.m_sqrb && idle() &&
                    line->written().isEmpty() && logged().count(QLatin1Char('\n')) == 6);
        QCOMPARE(ctx->params.m_typeheat, QStringLiteral("温补"));
        QCOMPARE(ctx->params.m_typeaudio, QStringLiteral("申请"));
        QCOMPARE(ctx->params.m_datbit, QStringLiteral("九位"));
        QCOMPARE(ctx->params.m_sqr, QStringLiteral("模拟"));
        // 00 then an unknown 42: the text keeps the last known value.
        QCOMPARE(ctx->params.m_typepower, QStringLiteral("普通"));
    }

    void lastPortReplyWritesAndProtectsPortState() {
        line->feed(QByteArray::fromHex("D7D8000F03"));
        QTRY_COMPARE(ctx->link().parser.PortStateTable.left(3), QByteArray::fromHex("000F03"));
        QVERIFY(!QFile::exists(QStringLiteral("portstate.dat")));
        line->feed(QByteArray::fromHex("D7D807F000"));
        QTRY_VERIFY(QFile::exists(QStringLiteral("portstate.dat")));
        QFile file(QStringLiteral("portstate.dat"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QCOMPARE(stored.size(), 24);
        QCOMPARE(stored.mid(21, 3), QByteArray::fromHex("07F000"));
        QCOMPARE(stored.left(3), QByteArray::fromHex("000F03"));
        QVERIFY(!(QFileInfo(file).permissions() & QFileDevice::WriteOwner));
        // A second poll rewrites the protected file.
        line->feed(QByteArray::fromHex("D7D807F011"));
        QTRY_COMPARE(ctx->link().parser.PortStateTable.mid(21, 3), QByteArray::fromHex("07F011"));
        file.close();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().mid(21, 3), QByteArray::fromHex("07F011"));
        QVERIFY(app.dialogs->messages.isEmpty());
        // A port number past the table is logged, not stored.
        line->feed(QByteArray::fromHex("D7D809AABB"));
        QTRY_VERIFY(logged().contains(QStringLiteral("D7:D8:09:AA:BB:")));
        QCOMPARE(ctx->link().parser.PortStateTable.size(), 24);
    }

    // Something else in the file's place (a folder, a link, a pipe): told once, plainly;
    // neither it nor what a link leads to is written, created, waited on or made
    // read-only, through the parser and through shutdown alike.
    void unwritablePortStateIsReportedOnce_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "folder";
        QTest::newRow("link to nowhere") << "dangling";
        QTest::newRow("link to a file") << "link";
#ifdef Q_OS_UNIX
        QTest::newRow("pipe") << "pipe";
#endif
    }
    void unwritablePortStateIsReportedOnce() {
        QFETCH(QString, kind);
        const QString name = QStringLiteral("portstate.dat");
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("target"));
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir::current().mkdir(name));
#ifdef Q_OS_UNIX
        } else if (kind == QLatin1String("pipe")) {
            QVERIFY(::mkfifo(QFile::encodeName(name).constData(), 0644) == 0);
#endif
        } else {
            if (kind == QLatin1String("link")) {
                QFile file(target);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("the user's own file");
            }
            QVERIFY(QFile::link(target, name));
        }
        // The name as it is (type and rights, not followed) and what a link leads to.
        const auto state = [&] {
            const QFileInfo info(name);
            QString what = QStringLiteral("%1 %2").arg(info.isSymLink()).arg(info.isDir());
#ifdef Q_OS_UNIX
            struct stat st {};
            if (::lstat(QFile::encodeName(name).constData(), &st) == 0)
                what = QString::number(st.st_mode, 8);
#endif
            QFile file(target);
            const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : "none";
            return QStringList{what, info.symLinkTarget(), QString::fromLatin1(content),
                               QString::number(QFileInfo(target).permissions())};
        };
        const QStringList before = state();

        line->feed(QByteArray::fromHex("D7D807F000D7D807F000"));
        QTRY_COMPARE(logged().count(QLatin1Char('\n')), 2);
        QCOMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(app.dialogs->messages[0].text.contains(QStringLiteral("portstate.dat")));
        QVERIFY(app.dialogs->messages[0].text.contains(QStringLiteral("不是普通文件")));
        QVERIFY(idle());
        QCOMPARE(state(), before);
        ctx->father()->close();
        QCOMPARE(state(), before);
        QFile::remove(name);
        QDir::current().rmdir(name);
    }

    void crcRepliesAlternateThePanel() {
        StatusPanel* panel = window->panel(3);
        line->feed(QByteArray::fromHex("D7E65A"));
        QTRY_COMPARE(panel->text(), QStringLiteral("CRC校验: 5AH"));
        QCOMPARE(panel->picture(), 116);
        QCOMPARE(panel->alignment(), Qt::AlignLeft);
        line->feed(QByteArray::fromHex("D7E65A"));
        QTRY_COMPARE(panel->picture(), 115);
        QCOMPARE(panel->text(), QStringLiteral("CRC校验: 5AH"));
        QCOMPARE(panel->alignment(), Qt::AlignRight);
    }

    void statusRepliesTellTheUserAndReturnToIdle() {
        // Radio data that happens to hold status codes, with no write for them to answer.
        line->feed(QByteArray::fromHex("D7FA42D7F7"));
        QTRY_COMPARE(shown(), QStringLiteral("D7:FA:42:D7:F7:"));
        QVERIFY(app.dialogs->messages.isEmpty());
        QVERIFY(logged().isEmpty());
        // Within a second of a frequency write they are its answers.
        ctx->session().SendFrame(
            t83::FrequencyWriteFrame(QStringLiteral("229100"), QStringLiteral("229100")));
        line->feed(QByteArray::fromHex("D7F7D7FFD7FA41"));
        QTRY_COMPARE(shown(), QStringLiteral("D7:FA:42:D7:F7:41:"));
        QCOMPARE(app.dialogs->texts(),
                 (QStringList{QStringLiteral("锁相环无法锁定"), QStringLiteral("设置频率超出范围"),
                              QStringLiteral("频率设置完成")}));
        QCOMPARE(app.dialogs->messages[2].icon, UserDialogs::Icon::Information);
        QCOMPARE(app.dialogs->messages[0].title, QStringLiteral("提示"));
        QCOMPARE(logged(), QStringLiteral("D7:F7:\nD7:FF:\nD7:FA:\n"));
        QVERIFY(idle());
    }

    void probeAnswerWhileACommandWasJustSentStartsNoRead() {
        ctx->link().CommandBusy = true;
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(ctx->link().parser.ModuleAnswered);
        QVERIFY(!ctx->link().cycle.Timer2.isActive());
        QVERIFY(!ctx->loaded<PromptWindow>());
        QCOMPARE(logged(), QStringLiteral("D7:FD:\n"));
        ctx->link().CommandBusy = false;
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(ctx->link().cycle.Timer2.isActive());
        QVERIFY(ctx->loaded<PromptWindow>() && ctx->loaded<PromptWindow>()->isVisible());
        QCOMPARE(ctx->loaded<PromptWindow>()->mode(), qint16(1));
    }

    void unlistedCodeIsCollectedLoggedAndRecovered() {
        line->feed(QByteArray::fromHex("D7550102"));
        QTRY_COMPARE(logged(), QStringLiteral("D7:55:01:02:\n"));
        QVERIFY(idle());
        line->feed(QByteArray::fromHex("42"));
        QTRY_COMPARE(shown(), QStringLiteral("42:"));

        // Nothing after the code: the link must not go deaf.
        line->feed(QByteArray::fromHex("D766"));
        QTRY_VERIFY(logged().contains(QStringLiteral("D7:66:\n")));
        QVERIFY(idle());
        line->feed(QByteArray::fromHex("43"));
        QTRY_COMPARE(shown(), QStringLiteral("42:43:"));
    }

    void nothingIsLoggedWithoutTheCommandWindow() {
        ctx->openOrFront<CommandWindow>();
        ctx->window<CommandWindow>()->parentWidget()->close(); // the window's close box
        QTRY_VERIFY(!ctx->loaded<CommandWindow>());
        line->feed(QByteArray::fromHex("D7E803"));
        QTRY_VERIFY(ctx->params.m_repeatb);
        QCOMPARE(ctx->params.m_repeat, QStringLiteral("03"));
        QVERIFY(idle());
    }

    void characterFloodAfterAReplyIsReadWhole() {
        // A finished reply (or a reopened port) leaves the read length at one byte;
        // character display must still take what is buffered in one read.
        ctx->link().parser.ShowAsText = true;
        ctx->MSComm1().setInputMode(CommControl::comInputModeText);
        ctx->MSComm1().setInputLen(1);
        line->feed(QByteArray(100000, 'B'));
        // The box keeps about its last 32000 to 64000 characters once this much came.
        QTRY_VERIFY_WITH_TIMEOUT(shown().size() > 30000, 3000);
        QCOMPARE(ctx->MSComm1().InBufferCount(), 0);
    }

    void floodNeverHoldsTheWindowForLong() {
        QByteArray flood(200000, 'A');
        line->feed(flood);
        // The timer below must keep firing while the flood is being shown.
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] { ++ticks; });
        tick.start(5);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(ctx->MSComm1().InBufferCount() == 0, 30000);
        QTRY_VERIFY(shown().endsWith(QStringLiteral("41:41:")));
        if (clock.elapsed() > 200)
            QVERIFY2(ticks > 5, qPrintable(QString::number(ticks)));
    }
};

T83_TEST_MAIN(TestReplyParser)
#include "test_replyparser.moc"
