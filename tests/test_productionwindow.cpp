// The production window over the program's own wiring: a tray of random modules, each
// scanned in (serial and Enter), configured, checked and recorded; and a station whose
// results database cannot be reached refuses to test.
#include "app/appcontext.h"
#include "app/settingsstore.h"
#include "link/modulesession.h"
#include "production/productionwindow.h"
#include "production/profileeditor.h"
#include "production/recordswindow.h"
#include "sim/protocol.h"
#include "tests/support/appfixture.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

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
        // The first modules with the timed read, the rest with the fast read.
        constexpr int kTray = 50;
        for (int n = 0; n < kTray; ++n) {
            w->fastReadBox->setChecked(n >= 2);
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

    // What the editor's "确定" gives is what the station writes and checks; a bad value
    // is named and changes nothing.
    void aProfileEditedFieldByFieldIsWhatTheStationTests() {
        app.ctx->store().writeValue(RegKeys::Results, QStringLiteral("path"),
                                    testenv::workDir() + QStringLiteral("/results.sqlite"));
        ProductionWindow* w = app.ctx->window<ProductionWindow>();
        QVERIFY(w->loadProfile(writeProfile()));
        ProfileEditor* editor = w->editProfile();
        for (const QString& field : ModuleProfile::WritableSettings())
            editor->setIncluded(field, false);
        editor->setIncluded(QStringLiteral("PB1"), false);
        editor->setIncluded(QStringLiteral("PB8"), false);
        editor->setIncluded(QStringLiteral("txfreque"), true);
        editor->setIncluded(QStringLiteral("datbit"), true);
        editor->textEditor(QStringLiteral("txfreque"))->setText(QStringLiteral("23125"));
        editor->choiceEditor(QStringLiteral("datbit"))->setCurrentText(QStringLiteral("九位"));
        QVERIFY(!editor->accept());
        QVERIFY(app.dialogs->texts().last().contains(QStringLiteral("发射频率")));
        QCOMPARE(w->profile()->settings.size(), 11); // unchanged
        editor->textEditor(QStringLiteral("txfreque"))->setText(QStringLiteral("231250"));
        editor->nameBox->setText(QStringLiteral("edited"));
        QVERIFY(editor->accept());
        QCOMPARE(w->profile()->name, QStringLiteral("edited"));
        QCOMPARE(w->profile()->settings,
                 (QMap<QString, QString>{{QStringLiteral("txfreque"), QStringLiteral("231250")},
                                         {QStringLiteral("datbit"), QStringLiteral("九位")}}));

        QSignalSpy recorded(w, &ProductionWindow::recorded);
        w->fastReadBox->setChecked(true);
        w->startTest();
        QVERIFY(recorded.wait(5000));
        QVERIFY2(recorded.last().at(1).toBool(), qPrintable(w->resultPanel->text()));
        QCOMPARE(w->fieldTable->rowCount(), 2);
        QVERIFY(module->settings().dataBits != 0);
        QCOMPARE(module->settings().txFrequency, t83sim::packFrequency(231250));
        // The fast read is the station's: the other windows keep the timed one.
        QVERIFY(!app.ctx->session().replyDrivenRead());
    }

    // A line lost mid-module ends it "串口断开" within a second, recorded; the station
    // opens the port again once it is back and, in "自动", goes on with the next module.
    void aLostLineEndsTheModuleAndTheStationWaitsForThePort() {
        app.ctx->store().writeValue(RegKeys::Results, QStringLiteral("path"),
                                    testenv::workDir() + QStringLiteral("/results.sqlite"));
        ProductionWindow* w = app.ctx->window<ProductionWindow>();
        QVERIFY(w->loadProfile(writeProfile()));
        w->autoBox->setChecked(true);
        QSignalSpy recorded(w, &ProductionWindow::recorded);
        QSignalSpy reading(&app.ctx->session(), &ModuleSession::readFinished);
        w->startTest();
        QVERIFY(reading.wait(3000)); // mid-module: the first read is in
        app.line->unplug(QStringLiteral("device gone"));
        app.line->setBusy(true); // the adapter is not back yet
        QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 1, 1000);
        QCOMPARE(recorded.last().at(1).toBool(), false);
        QCOMPARE(w->resultPanel->text(), QStringLiteral("不合格: 串口断开"));
        QTest::qWait(1200);
        QVERIFY(!app.ctx->MSComm1().PortOpen());
        QCOMPARE(w->stepLabel->text(), QStringLiteral("串口断开,等待串口恢复"));

        app.line->setBusy(false); // plugged in again, a module on it
        QVERIFY(recorded.wait(15000));
        QVERIFY(app.ctx->MSComm1().PortOpen());
        QVERIFY2(recorded.last().at(1).toBool(), qPrintable(w->resultPanel->text()));
        QCOMPARE(w->tested, 2);
        w->autoBox->setChecked(false);
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
