// The production window over the program's own wiring: a tray of random modules, each
// scanned in (serial and Enter), configured, checked and recorded; and a station whose
// results database cannot be reached refuses to test.
#include "app/appcontext.h"
#include "app/settingsstore.h"
#include "link/modulesession.h"
#include "production/productionwindow.h"
#include "production/recordswindow.h"
#include "sim/protocol.h"
#include "tests/support/appfixture.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTableWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

class TestProductionWindow : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<t83sim::ModuleProtocol> module;

    QString writeProfile() {
        const QString path = testenv::workDir() + QStringLiteral("/line.t83profile");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(R"({"format":1,"name":"line A",
            "settings":{"txfreque":"231250","rxfreque":"231250","meaddress":"0A0B",
                        "headdress":"0001","repeat":"05","invite":"1234","typepower":"省电",
                        "typeheat":"普通","typeaudio":"非申请","sqr":"数字","datbit":"八位"},
            "ports":{"PB1":{"direction":"输入","report":"端口电平变化后发送变化信息"},
                     "PB8":{"direction":"输出","answer":"应答","destination":"串口输出",
                            "form":"输出负脉冲"}}})");
        return path;
    }

  private slots:
    void init() {
        app.start();
        module = std::make_unique<t83sim::ModuleProtocol>();
        connect(app.line, &MemoryLine::bytesWritten, this, [this](const QByteArray& bytes) {
            for (const QByteArray& reply : module->feed(bytes).replies)
                app.line->feed(reply);
        });
    }
    void cleanup() {
        app.stop();
        module.reset();
    }

    void aTrayOfModulesIsConfiguredCheckedAndRecorded() {
        app.ctx->store().writeValue(RegKeys::Results, QStringLiteral("path"),
                                      testenv::workDir() + QStringLiteral("/results.sqlite"));
        ProductionWindow* w = app.ctx->window<ProductionWindow>();
        QVERIFY(w->stationReady());
        QVERIFY(w->loadProfile(writeProfile()));
        QSignalSpy recorded(w, &ProductionWindow::recorded);
        constexpr int kTray = 6;
        for (int n = 0; n < kTray; ++n) {
            module->settings() = t83sim::randomSettings(quint32(1000 + n));
            w->serialBox->setText(QStringLiteral("SN%1").arg(n));
            QTest::keyClick(w->serialBox, Qt::Key_Return); // the scanner's Enter
            QVERIFY(recorded.wait(20000));
            QVERIFY2(recorded.last().at(1).toBool(), qPrintable(w->resultPanel->text()));
            QCOMPARE(w->resultPanel->text(), QStringLiteral("合格"));
            const t83sim::ModuleSettings& s = module->settings();
            QCOMPARE(s.retryCount, quint8(0x05));
            QCOMPARE(s.powerSaving, quint8(0xFF));
            QCOMPARE(s.ports[0].direction, quint8(0x0F));
            QCOMPARE(s.ports[7].mode, quint8(0x11));
        }
        QCOMPARE(w->tested, kTray);
        QCOMPARE(w->passed, kTray);
        // Hands-free: the station says everything in its own panel, no box to dismiss.
        QCOMPARE(app.dialogs->texts(), QStringList{});
        // The station's quiet probes leave the main window's own probe as it was: the
        // module's answer starts the read with its prompt.
        QSignalSpy readStarted(&app.ctx->session(), &ModuleSession::readStarted);
        app.ctx->session().probe();
        QVERIFY(readStarted.wait(2000));
        ResultsDatabase db;
        QString error;
        QVERIFY(db.open({}, &error, testenv::workDir() + QStringLiteral("/results.sqlite")));
        const QList<RunRecord> rows = db.runs({});
        QCOMPARE(rows.size(), kTray);
        QCOMPARE(rows.first().serial, QStringLiteral("SN%1").arg(kTray - 1));
        QCOMPARE(rows.first().result.fields.size(), 13);
        QCOMPARE(rows.first().profileName, QStringLiteral("line A"));

        // The records window lists them, with their yield, and exports what it shows.
        RecordsWindow* records = app.ctx->window<RecordsWindow>();
        QCOMPARE(records->runTable->rowCount(), kTray);
        QCOMPARE(records->fieldTable->rowCount(), 13);
        QVERIFY(records->yieldLabel->text().contains(QStringLiteral("合格率 100.0%")));
        records->resultList->setCurrentIndex(2); // 不合格
        records->refresh();
        QCOMPARE(records->runTable->rowCount(), 0);
        records->resultList->setCurrentIndex(0);
        const QString csv = testenv::workDir() + QStringLiteral("/out.csv");
        app.dialogs->fileNames.enqueue(csv);
        records->exportCsv();
        QFile exported(csv);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        const QByteArray text = exported.readAll();
        QVERIFY(text.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(text.count("\r\n"), kTray + 1);
    }

    void aStationThatCannotRecordRefusesToTest() {
        app.ctx->store().writeValue(RegKeys::Results, QStringLiteral("url"),
                                      QStringLiteral("postgresql://nobody@127.0.0.1:1/none"));
        ProductionWindow* w = app.ctx->window<ProductionWindow>();
        QVERIFY(!w->stationReady());
        QVERIFY(!w->startButton->isEnabled());
        QVERIFY(w->resultPanel->text().startsWith(QStringLiteral("记录数据库不可用")));
        QVERIFY(w->loadProfile(writeProfile()));
        w->serialBox->setText(QStringLiteral("SN1"));
        QTest::keyClick(w->serialBox, Qt::Key_Return);
        QTest::qWait(300);
        QVERIFY(app.line->written().isEmpty()); // no probe: nothing tested
        QCOMPARE(w->tested, 0);
    }
};

T83_TEST_MAIN(TestProductionWindow)
#include "test_productionwindow.moc"
