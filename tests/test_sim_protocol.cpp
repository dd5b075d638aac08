// Unit tests of the simulated module's protocol: bytes in, replies and radio
// data out, no I/O involved.

#include "sim/protocol.h"
#include "tests/support/fileheader.h"

#include <QtTest>

using namespace t83sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Feeds the bytes and returns all replies joined, as the host would see them.
QByteArray answer(ModuleProtocol& module, const QByteArray& bytes) {
    QByteArray joined;
    for (const QByteArray& reply : module.feed(bytes).replies)
        joined += reply;
    return joined;
}

} // namespace

class SimProtocolTest : public QObject {
    Q_OBJECT
  private slots:
    void probeIsAnswered();
    void readRepliesHaveTheirFixedLength_data();
    void readRepliesHaveTheirFixedLength();
    void defaultSettingsAsRead();
    void writesChangeTheNextRead_data();
    void writesChangeTheNextRead();
    void frequencyWriteInBand_data();
    void frequencyWriteInBand();
    void frequencyWriteOutOfBand_data();
    void frequencyWriteOutOfBand();
    void lockFailureRefusesInBandWrites();
    void portQueryAndConfiguration();
    void crcQuery();
    void silentModuleTakesFramesButNeverAnswers();
    void unansweredReadsStayQuiet();
    void unlistedReplyReplacesTheChosenAnswer();
    void versionTextIsFixedLength_data();
    void versionTextIsFixedLength();
    void framesSplitAcrossArrivals();
    void dataIsToldFromCommands_data();
    void dataIsToldFromCommands();
    void incompleteFrameIsReleasedAsData();
    void fileInPiecesPassesBitForBit();
    void bytesSentWithDtrOffAreData();
    void testFunctionsAreRecorded();
};

void SimProtocolTest::probeIsAnswered() {
    ModuleProtocol module;
    const FeedResult result = module.feed(hex("D7FE"));
    QCOMPARE(result.replies, QList<QByteArray>{hex("D7FD")});
    QVERIFY(result.radioData.isEmpty());
    QCOMPARE(module.receivedFrames(), (QList<ReceivedFrame>{{0xFE, {}}}));
}

void SimProtocolTest::readRepliesHaveTheirFixedLength_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("replyCode");
    QTest::addColumn<int>("payloadLength");
    QTest::newRow("frequencies") << hex("D7EF") << 0xEF << 6;
    QTest::newRow("own address") << hex("D7F4") << 0xF4 << 2;
    QTest::newRow("destination address") << hex("D7E3") << 0xE3 << 2;
    QTest::newRow("retry count") << hex("D7E8") << 0xE8 << 1;
    QTest::newRow("invitation group") << hex("D7A2") << 0xA2 << 2;
    QTest::newRow("version") << hex("D7EC") << 0xEC << 11;
    QTest::newRow("power saving") << hex("D7D2") << 0xD2 << 1;
    QTest::newRow("temperature compensation") << hex("D7D5") << 0xD5 << 1;
    QTest::newRow("voice mode") << hex("D7B7") << 0xB7 << 1;
    QTest::newRow("data bits") << hex("D7ABAA") << 0xAB << 1;
    QTest::newRow("squelch") << hex("D7A8AA") << 0xA8 << 1;
    QTest::newRow("port 0") << hex("D7D800") << 0xD8 << 3;
    QTest::newRow("port 7") << hex("D7D807") << 0xD8 << 3;
    QTest::newRow("crc") << hex("D7E6") << 0xE6 << 1;
}

void SimProtocolTest::readRepliesHaveTheirFixedLength() {
    QFETCH(QByteArray, request);
    QFETCH(int, replyCode);
    QFETCH(int, payloadLength);
    ModuleProtocol module;
    const QList<QByteArray> replies = module.feed(request).replies;
    QCOMPARE(replies.size(), 1);
    const QByteArray reply = replies.first();
    QCOMPARE(reply.size(), 2 + payloadLength);
    QCOMPARE(quint8(reply.at(0)), quint8(0xD7));
    QCOMPARE(int(quint8(reply.at(1))), replyCode);
    // The host's reply table must agree, or it would read the wrong count.
    QCOMPARE(replyPayloadLength(quint8(replyCode)), payloadLength);
}

void SimProtocolTest::defaultSettingsAsRead() {
    ModuleProtocol module;
    QCOMPARE(answer(module, hex("D7EF")), hex("D7EF229100229100"));
    QCOMPARE(answer(module, hex("D7EC")), hex("D7EC") + QByteArray("T83SIM V1.0"));
    QCOMPARE(answer(module, hex("D7D203")), hex("D7D200"));
    QCOMPARE(answer(module, hex("D7D800D7D807")), hex("D7D8000F00D7D8070030"));
}

void SimProtocolTest::writesChangeTheNextRead_data() {
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("own address") << hex("D7F512AB") << hex("D7F4") << hex("D7F412AB");
    QTest::newRow("destination") << hex("D7E1BEEF") << hex("D7E3") << hex("D7E3BEEF");
    QTest::newRow("retry count") << hex("D7E70A") << hex("D7E8") << hex("D7E80A");
    QTest::newRow("invitation group") << hex("D7A10102") << hex("D7A2") << hex("D7A20102");
    QTest::newRow("power saving") << hex("D7D1FF") << hex("D7D2") << hex("D7D2FF");
    QTest::newRow("temperature") << hex("D7D4FF") << hex("D7D5") << hex("D7D5FF");
    QTest::newRow("voice mode") << hex("D7B6FF") << hex("D7B7") << hex("D7B7FF");
    QTest::newRow("squelch digital") << hex("D7A8FF") << hex("D7A8AA") << hex("D7A8FF");
    QTest::newRow("nine data bits") << hex("D7AB01") << hex("D7ABAA") << hex("D7AB01");
    QTest::newRow("frequencies") << hex("D7FF230000231250") << hex("D7EF")
                                 << hex("D7EF230000231250");
}

void SimProtocolTest::writesChangeTheNextRead() {
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, expected);
    ModuleProtocol module;
    const QByteArray before = answer(module, read);
    QVERIFY(before != expected);
    const FeedResult written = module.feed(write);
    // Only a frequency write is confirmed; the other writes are taken silently.
    const bool isFrequency = quint8(write.at(1)) == 0xFF;
    QCOMPARE(written.replies, isFrequency ? QList<QByteArray>{hex("D7FA")} : QList<QByteArray>{});
    QVERIFY(written.radioData.isEmpty());
    QCOMPARE(answer(module, read), expected);
}

void SimProtocolTest::frequencyWriteInBand_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("lowest") << hex("D7FF220000220000");
    QTest::newRow("highest") << hex("D7FF240000240000");
    QTest::newRow("split tx and rx") << hex("D7FF221250238975");
}

void SimProtocolTest::frequencyWriteInBand() {
    QFETCH(QByteArray, frame);
    ModuleProtocol module;
    QCOMPARE(answer(module, frame), hex("D7FA"));
    QCOMPARE(answer(module, hex("D7EF")), hex("D7EF") + frame.mid(2));
}

void SimProtocolTest::frequencyWriteOutOfBand_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("tx just below") << hex("D7FF219999229100");
    QTest::newRow("rx just above") << hex("D7FF229100240001");
    QTest::newRow("zero") << hex("D7FF000000000000");
    QTest::newRow("not decimal") << hex("D7FF2291A0229100");
}

void SimProtocolTest::frequencyWriteOutOfBand() {
    QFETCH(QByteArray, frame);
    ModuleProtocol module;
    QCOMPARE(answer(module, frame), hex("D7FF"));
    QCOMPARE(answer(module, hex("D7EF")), hex("D7EF229100229100"));
}

void SimProtocolTest::lockFailureRefusesInBandWrites() {
    SimOptions options;
    options.lockFailure = true;
    ModuleProtocol module(options);
    QCOMPARE(answer(module, hex("D7FF230000230000")), hex("D7F7"));
    // The band is checked first: a wrong number is out of range, not unlockable.
    QCOMPARE(answer(module, hex("D7FF250000230000")), hex("D7FF"));
    QCOMPARE(answer(module, hex("D7EF")), hex("D7EF229100229100"));
}

void SimProtocolTest::portQueryAndConfiguration() {
    ModuleProtocol module;
    QCOMPARE(answer(module, hex("D7D803")), hex("D7D8030F00"));
    QVERIFY(answer(module, hex("D7D603F011")).isEmpty());
    QCOMPARE(answer(module, hex("D7D803")), hex("D7D803F011"));
    QCOMPARE(module.settings().ports[3], (PortConfig{0xF0, 0x11}));
    // Only the addressed port changes.
    QCOMPARE(answer(module, hex("D7D802")), hex("D7D8020F00"));
    // There is no ninth port: its query goes unanswered, its write is dropped
    // and the frames around it are still understood.
    QCOMPARE(answer(module, hex("D7D808D7D60800FFD7FE")), hex("D7FD"));
    QCOMPARE(module.receivedFrames().size(), 7);
    for (int p = 0; p < kPortCount; ++p) {
        if (p != 3)
            QCOMPARE(module.settings().ports[p], ModuleSettings::defaultPorts()[p]);
    }
}

void SimProtocolTest::crcQuery() {
    ModuleProtocol standard;
    QCOMPARE(answer(standard, hex("D7E6")), hex("D7E65A"));
    SimOptions options;
    options.crc = 0x3C;
    ModuleProtocol chosen(options);
    QCOMPARE(answer(chosen, hex("D7E6D7E6")), hex("D7E63CD7E63C"));
}

void SimProtocolTest::silentModuleTakesFramesButNeverAnswers() {
    SimOptions options;
    options.silent = true;
    ModuleProtocol module(options);
    const FeedResult result = module.feed(hex("D7FED7EFD7F51234D7FF230000230000"));
    QVERIFY(result.replies.isEmpty());
    QCOMPARE(result.frames.size(), 4);
    QCOMPARE(module.settings().ownAddress, (std::array<quint8, 2>{0x12, 0x34}));
    QCOMPARE(module.settings().txFrequency, packFrequency(230000));
}

void SimProtocolTest::unansweredReadsStayQuiet() {
    SimOptions options;
    options.unanswered = {0xEC, 0xAB};
    ModuleProtocol module(options);
    QVERIFY(answer(module, hex("D7EC")).isEmpty());
    QVERIFY(answer(module, hex("D7ABAA")).isEmpty());
    // Everything else still answers, in order, in the same stream.
    QCOMPARE(answer(module, hex("D7E8D7ECD7A8AA")), hex("D7E803D7A800"));
}

void SimProtocolTest::unlistedReplyReplacesTheChosenAnswer() {
    SimOptions onProbe;
    onProbe.unlisted = UnlistedReply{};
    ModuleProtocol first(onProbe);
    QCOMPARE(answer(first, hex("D7FE")), hex("D7550102"));
    QCOMPARE(answer(first, hex("D7E8")), hex("D7E803"));
    QVERIFY(!isListedReplyCode(0x55));

    SimOptions onVersion;
    onVersion.unlisted = UnlistedReply{0xEC, 0x9C, hex("AABBCC")};
    ModuleProtocol second(onVersion);
    QCOMPARE(answer(second, hex("D7FED7EC")), hex("D7FDD79CAABBCC"));
}

void SimProtocolTest::versionTextIsFixedLength_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("short is padded") << QStringLiteral("V2") << QByteArray("V2         ");
    QTest::newRow("exact") << QStringLiteral("ABCDEFGHIJK") << QByteArray("ABCDEFGHIJK");
    QTest::newRow("long is cut") << QStringLiteral("ABCDEFGHIJKLMN") << QByteArray("ABCDEFGHIJK");
}

void SimProtocolTest::versionTextIsFixedLength() {
    QFETCH(QString, text);
    QFETCH(QByteArray, sent);
    SimOptions options;
    options.versionText = text;
    ModuleProtocol module(options);
    QCOMPARE(answer(module, hex("D7EC")), hex("D7EC") + sent);
}

void SimProtocolTest::framesSplitAcrossArrivals() {
    const QByteArray stream = hex("D7FED7FF230000231250D7EFD7D805D7ABAA");
    ModuleProtocol whole;
    const FeedResult together = whole.feed(stream);
    QCOMPARE(together.replies.size(), 5);

    ModuleProtocol piecewise;
    QList<QByteArray> replies;
    for (char byte : stream) {
        const FeedResult step = piecewise.feed(QByteArray(1, byte));
        QVERIFY(step.radioData.isEmpty());
        replies += step.replies;
    }
    QCOMPARE(replies, together.replies);
    QCOMPARE(piecewise.receivedFrames(), whole.receivedFrames());

    // A frame may also be cut in the middle of its payload.
    ModuleProtocol halves;
    QVERIFY(halves.feed(hex("D7FF2300")).replies.isEmpty());
    QVERIFY(halves.hasIncompleteFrame());
    QCOMPARE(halves.feed(hex("00231250")).replies, QList<QByteArray>{hex("D7FA")});
    QVERIFY(!halves.hasIncompleteFrame());
}

void SimProtocolTest::dataIsToldFromCommands_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("replies");
    QTest::newRow("plain bytes") << QByteArray("hello") << QByteArray("hello") << QByteArray();
    QTest::newRow("D7 00 is data") << hex("41D7004243") << hex("41D7004243") << QByteArray();
    QTest::newRow("file header") << hex("D705612E62696E2A0000000A")
                                 << hex("D705612E62696E2A0000000A") << QByteArray();
    QTest::newRow("empty file then a probe")
        << hex("D703612E622A00000000D7FE") << hex("D703612E622A00000000") << hex("D7FD");
    QTest::newRow("command between data") << hex("0102D7FE0304") << hex("01020304") << hex("D7FD");
    QTest::newRow("data D7 then a frame") << hex("D700D7E8") << hex("D700") << hex("D7E803");
}

void SimProtocolTest::dataIsToldFromCommands() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, replies);
    ModuleProtocol module;
    const FeedResult result = module.feed(input);
    QCOMPARE(result.radioData, data);
    QCOMPARE(result.replies.join(), replies);
    QVERIFY(!module.hasIncompleteFrame());

    // Byte by byte the split is the same.
    ModuleProtocol stepwise;
    QByteArray stepData;
    QByteArray stepReplies;
    for (char byte : input) {
        const FeedResult step = stepwise.feed(QByteArray(1, byte));
        stepData += step.radioData;
        stepReplies += step.replies.join();
    }
    QCOMPARE(stepData, data);
    QCOMPARE(stepReplies, replies);
}

void SimProtocolTest::incompleteFrameIsReleasedAsData() {
    ModuleProtocol module;
    FeedResult result = module.feed(hex("4142D7"));
    QCOMPARE(result.radioData, hex("4142"));
    QVERIFY(module.hasIncompleteFrame());
    QCOMPARE(module.flushIncomplete().radioData, hex("D7"));

    result = module.feed(hex("D7F512"));
    QVERIFY(result.radioData.isEmpty());
    QCOMPARE(module.flushIncomplete().radioData, hex("D7F512"));
    QVERIFY(!module.hasIncompleteFrame());
    // The address was never written and the next frame starts afresh.
    QCOMPARE(answer(module, hex("D7F4")), hex("D7F40001"));
    QVERIFY(module.flushIncomplete().radioData.isEmpty());

    // A file header cut short is released the same way, and the file it
    // would have announced does not swallow the next command.
    result = module.feed(hex("D705612E6269"));
    QVERIFY(result.radioData.isEmpty());
    QVERIFY(module.hasIncompleteFrame());
    QCOMPARE(module.flushIncomplete().radioData, hex("D705612E6269"));
    QVERIFY(!module.transferInProgress());
    QCOMPARE(answer(module, hex("D7FE")), hex("D7FD"));
}

void SimProtocolTest::fileInPiecesPassesBitForBit() {
    // A name and data full of byte pairs that would otherwise be frames.
    // The last byte, a D7, must not be held back as the start of a frame.
    const QByteArray header = fileHeader(hex("D7FE2ED7EF"), 15);
    const QByteArray file = hex("D7FED7EFD7D800D7D7FED7E6D7FFD7");
    ModuleProtocol module;
    QByteArray data;
    for (char byte : header + file) {
        const FeedResult step = module.feed(QByteArray(1, byte));
        QVERIFY(step.replies.isEmpty());
        data += step.radioData;
        if (data.size() == header.size()) {
            // Nothing is held while the file is awaited, so a pause before
            // the data cannot time the header out.
            QVERIFY(!module.hasIncompleteFrame());
            QVERIFY(module.transferInProgress());
        }
    }
    QCOMPARE(data, header + file);
    QVERIFY(module.receivedFrames().isEmpty());
    QVERIFY(!module.transferInProgress());

    // Right after the last file byte commands are understood again.
    const FeedResult after = module.feed(hex("D7FE41"));
    QCOMPARE(after.replies, QList<QByteArray>{hex("D7FD")});
    QCOMPARE(after.radioData, QByteArray("A"));

    // A transfer given up part-way lets the next command through as well.
    module.feed(fileHeader("a", 100) + "xyz");
    QVERIFY(module.transferInProgress());
    module.endTransfer();
    QCOMPARE(answer(module, hex("D7E8")), hex("D7E803"));
}

void SimProtocolTest::bytesSentWithDtrOffAreData() {
    ModuleProtocol module;
    QCOMPARE(module.feed(hex("41D7")).radioData, hex("41"));
    // The held D7 goes out first, in order, and nothing is a command.
    FeedResult result = module.feedData(hex("FED7EFD7"));
    QCOMPARE(result.radioData, hex("D7FED7EFD7"));
    QVERIFY(result.replies.isEmpty());
    QVERIFY(!module.hasIncompleteFrame());
    QVERIFY(module.receivedFrames().isEmpty());

    // The data of a file announced in-band counts towards its length.
    QCOMPARE(module.feed(fileHeader("a", 4)).radioData, fileHeader("a", 4));
    QCOMPARE(module.feedData(hex("D7FED7")).radioData, hex("D7FED7"));
    QCOMPARE(module.feed(hex("FED7FE")).radioData, hex("FE"));
    QCOMPARE(module.receivedFrames().size(), 1);
}

void SimProtocolTest::testFunctionsAreRecorded() {
    ModuleProtocol module;
    QVERIFY(!module.testCodeRunning());
    QVERIFY(!module.amplifierOn());
    const FeedResult on = module.feed(hex("D7F9D7E4"));
    QVERIFY(on.replies.isEmpty());
    QVERIFY(module.testCodeRunning());
    QVERIFY(module.amplifierOn());
    module.feed(hex("D7F8D7E5D7FF221250221250"));
    QVERIFY(!module.testCodeRunning());
    QVERIFY(!module.amplifierOn());
    const QList<ReceivedFrame> expected{
        {0xF9, {}}, {0xE4, {}}, {0xF8, {}}, {0xE5, {}}, {0xFF, hex("221250221250")}};
    QCOMPARE(module.receivedFrames(), expected);
    QCOMPARE(module.receivedFrames().last().bytes(), hex("D7FF221250221250"));
    module.clearReceivedFrames();
    QVERIFY(module.receivedFrames().isEmpty());
}

QTEST_GUILESS_MAIN(SimProtocolTest)
#include "test_sim_protocol.moc"
