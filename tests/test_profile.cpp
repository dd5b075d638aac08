// Module profiles: what a file may say, what a bad one is told, the frames that make a
// module what the profile says, and the check of a module against it.
#include "protocol/profile.h"
#include "tests/support/testenv.h"

namespace {
QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// A module as read: every setting answered, PB1 an output with answer, PB2 an input.
ModuleParameters readModule() {
    ModuleParameters m;
    m.storeReply(0xEF, hex("229100229100"));
    m.storeReply(0xF4, hex("0001"));
    m.storeReply(0xE3, hex("0002"));
    m.storeReply(0xE8, hex("03"));
    m.storeReply(0xA2, hex("0000"));
    m.storeReply(0xEC, QByteArray("T83SIM V1.0"));
    m.storeReply(0xD2, hex("00"));
    m.storeReply(0xD5, hex("00"));
    m.storeReply(0xB7, hex("FF"));
    m.storeReply(0xA8, hex("00"));
    m.storeReply(0xAB, hex("00"));
    return m;
}
const QByteArray kPorts = hex("00F012"
                              "010F03"
                              "020000"
                              "030000"
                              "040000"
                              "050000"
                              "060000"
                              "070000");
} // namespace

class TestProfile : public QObject {
    Q_OBJECT

  private slots:
    void aModulesProfileRoundTripsThroughItsFile() {
        const ModuleProfile saved =
            ModuleProfile::fromModule(QStringLiteral("线体A"), readModule(), kPorts);
        QCOMPARE(saved.settings.size(), 11);
        QCOMPARE(saved.settings.value(QStringLiteral("typeaudio")), QStringLiteral("申请"));
        QVERIFY(saved.ports[0] && saved.ports[0]->destination == QStringLiteral("串口输出"));
        QCOMPARE(saved.ports[1]->report, QStringLiteral("端口电平变化后发送变化信息"));
        QString error;
        const auto loaded = ModuleProfile::fromJson(saved.toJson(), &error);
        QVERIFY2(loaded, qPrintable(error));
        QCOMPARE(loaded->toJson(), saved.toJson());
        QCOMPARE(*loaded->version, QStringLiteral("T83SIM V1.0"));
        // A module that holds the profile needs nothing written and agrees everywhere.
        QVERIFY(loaded->writeFrames(readModule(), kPorts).isEmpty());
        for (const FieldCheck& c : CheckAgainstProfile(*loaded, readModule(), kPorts))
            QVERIFY2(c.ok, qPrintable(c.field));
    }

    void aBadFileNamesItsFirstBadField_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("field");
        QTest::newRow("not json") << QByteArray("{\"format\": 1,") << QString("JSON");
        // Nothing to write or check would pass every module that answers.
        QTest::newRow("empty") << QByteArray(R"({"format":1,"name":"x","ports":{}})")
                               << QString("没有任何要设置或检查的项目");
        QTest::newRow("no format") << QByteArray("{\"name\": \"x\"}") << QString("format:");
        QTest::newRow("short frequency")
            << QByteArray(R"({"format":1,"settings":{"rxfreque":"22910","repeat":"xx"}})")
            << QString("settings.rxfreque: 需要6位十进制数字");
        QTest::newRow("lower-case hex")
            << QByteArray(R"({"format":1,"settings":{"meaddress":"00ab"}})")
            << QString("settings.meaddress:");
        QTest::newRow("unknown setting")
            << QByteArray(R"({"format":1,"settings":{"power":"省电"}})")
            << QString("settings.power:");
        QTest::newRow("mode text") << QByteArray(R"({"format":1,"settings":{"typeheat":"省电"}})")
                                   << QString("settings.typeheat: 只能是\"普通\"或\"温补\"");
        QTest::newRow("ninth port")
            << QByteArray(R"({"format":1,"ports":{"PB9":{"direction":"输入"}}})")
            << QString("ports.PB9:");
        QTest::newRow("output without answer")
            << QByteArray(
                   R"({"format":1,"ports":{"PB2":{"direction":"输出","destination":"串口输出","form":"输出正脉冲"}}})")
            << QString("ports.PB2.answer:");
    }
    void aBadFileNamesItsFirstBadField() {
        QFETCH(QByteArray, json);
        QFETCH(QString, field);
        QString error;
        QVERIFY(!ModuleProfile::fromJson(json, &error));
        QVERIFY2(error.contains(field), qPrintable(error));
    }

    void onlyWhatDiffersIsWrittenAsTheModuleWindowWouldWriteIt() {
        QString error;
        const auto profile = ModuleProfile::fromJson(
            R"({"format":1,"name":"p","version":"T83 V2.0",
                "settings":{"rxfreque":"231250","meaddress":"00A1","repeat":"03",
                            "typepower":"省电","datbit":"九位","sqr":"模拟"},
                "ports":{"PB1":{"direction":"输出","answer":"应答","destination":"串口输出","form":"输出负脉冲"},
                         "PB2":{"direction":"输入","report":"端口电平变化后发送变化信息"}}})",
            &error);
        QVERIFY2(profile, qPrintable(error));
        const QList<QByteArray> frames = profile->writeFrames(readModule(), kPorts);
        // Transmit frequency kept as the module holds it; retry count and squelch agree.
        QCOMPARE(frames, (QList<QByteArray>{hex("D7FF229100231250"), hex("D7F500A1"), hex("D7D1FF"),
                                            hex("D7AB01"), hex("D7D600F011")}));
        ModuleParameters missing = readModule();
        missing.m_sqrb = false;
        missing.markMissing();
        QStringList failed;
        for (const FieldCheck& c : CheckAgainstProfile(*profile, missing, kPorts))
            if (!c.ok)
                failed << c.field + QLatin1Char('=') + c.actual;
        QCOMPARE(failed, (QStringList{"rxfreque=229100", "meaddress=0001", "typepower=普通",
                                      "sqr=无此参数", "datbit=八位",
                                      "PB1=输出/应答/串口输出/输出发端电平", "version=T83SIM V1.0"}));
    }
};

T83_TEST_MAIN(TestProfile)
#include "test_profile.moc"
