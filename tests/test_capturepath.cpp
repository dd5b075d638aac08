// The file-capture receive path over an in-memory line, driven by receive events as the
// reply parser hands them on: header in any chunking, names and lengths as announced,
// a file that ends at its announced length while what follows waits, a bad first byte,
// data past the buffer, and a large file in arbitrary chunks.
#include "link/capturepath.h"
#include "link/commcontrol.h"
#include "link/memorybackend.h"
#include "tests/support/testenv.h"

#include <QRandomGenerator>
#include <QSignalSpy>

namespace {
// The header for the 10-byte file a.bin.
const QByteArray kABinHeader = QByteArray::fromHex("D705612E62696E2A0000000A");
const QByteArray kABinData = QByteArray::fromHex("00D7FE0102D7FDFF4142");
} // namespace

class TestCapturePath : public QObject {
    Q_OBJECT

    MemoryLine line;
    std::unique_ptr<CommControl> comm;
    std::unique_ptr<CapturePath> path;
    qint64 fed = 0;

    // The bytes the path has taken off the line, wherever they went.
    qint64 taken() const {
        const CapturePath::Taken& t = path->taken();
        return t.header + t.kept + t.dropped + t.shown;
    }

    // Feeds bytes as one arrival and waits until the serial object holds all of them and
    // no receive event is due any more (an ended file leaves what follows waiting).
    [[nodiscard]] bool feedAndSettle(const QByteArray& bytes) {
        fed += bytes.size();
        line.feed(bytes);
        return QTest::qWaitFor([&] {
            const int buffered = comm->InBufferCount();
            return taken() + buffered == fed &&
                   (buffered < comm->RThreshold() || path->CaptureState == 4);
        });
    }

  private slots:
    void init() {
        comm = std::make_unique<CommControl>(
            [](int port) { return port == 1 ? QStringLiteral("mem:1") : QString(); },
            [this](const QString&) { return std::make_unique<MemoryBackend>(&line); });
        QVERIFY(comm->setPortOpen(true).ok());
        comm->setInputMode(CommControl::comInputModeBinary);
        path = std::make_unique<CapturePath>(*comm);
        path->reset(); // the capture window opens
        connect(comm.get(), &CommControl::OnComm, path.get(), &CapturePath::receivePass);
        fed = 0;
    }
    void cleanup() {
        path.reset();
        comm.reset();
    }

    void aFileArrivesWhateverTheChunking_data() {
        QTest::addColumn<QList<int>>("chunks");
        QTest::newRow("header, then data") << QList<int>{12, 10};
        QTest::newRow("all at once") << QList<int>{22};
        QTest::newRow("marker and length with part of the name") << QList<int>{4, 3, 5, 10};
        QTest::newRow("header with the first data bytes") << QList<int>{15, 7};
        QList<int> ones(22, 1);
        QTest::newRow("byte by byte") << ones;
    }
    void aFileArrivesWhateverTheChunking() {
        QFETCH(QList<int>, chunks);
        QSignalSpy started(path.get(), &CapturePath::headerStarted);
        QSignalSpy read(path.get(), &CapturePath::headerRead);
        QSignalSpy progress(path.get(), &CapturePath::progress);
        path->CaptureSaved = true; // the last file was saved
        const QByteArray all = kABinHeader + kABinData;
        qsizetype at = 0;
        for (int size : chunks) {
            QVERIFY(feedAndSettle(all.mid(at, size)));
            at += size;
            if (at == 7) // in the header: the threshold waits for name, separator and length
                QCOMPARE(comm->RThreshold(), 10);
        }
        QCOMPARE(started.size(), 1);
        QCOMPARE(read.size(), 1);
        QCOMPARE(read[0][0].toString(), QStringLiteral("a.bin"));
        QCOMPARE(read[0][1].value<quint32>(), 10u);
        QVERIFY(!path->CaptureSaved);
        QCOMPARE(path->CaptureCount, 10);
        QCOMPARE(path->CaptureBuffer, kABinData);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last()[0].value<qint32>(), 10);
        // Ready for more data one byte at a time.
        QCOMPARE(comm->RThreshold(), 1);
        QCOMPARE(comm->InputLen(), 1);
    }

    // A file ends at its announced length, at once: what follows is not part of it, it
    // waits untouched until the file has been saved or given up, then it is taken as a
    // transfer of its own.
    void aFileEndsAtItsLengthAndWhatFollowsWaits_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("a next file in the same arrival")
            << QByteArray::fromHex("D705642E62696E2A0000000A") << kABinData
            << kABinHeader + kABinData;
        QTest::newRow("an empty file")
            << QByteArray::fromHex("D701652A00000000") << QByteArray() << kABinHeader + kABinData;
        QTest::newRow("more than announced") << QByteArray::fromHex("D705642E62696E2A0000000A")
                                             << kABinData << QByteArray("0123456789");
    }
    void aFileEndsAtItsLengthAndWhatFollowsWaits() {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, after);
        QSignalSpy complete(path.get(), &CapturePath::fileComplete);
        QSignalSpy read(path.get(), &CapturePath::headerRead);
        QSignalSpy bad(path.get(), &CapturePath::badHeader);
        QVERIFY(feedAndSettle(header + data + after));
        QCOMPARE(complete.size(), 1);
        QCOMPARE(path->CaptureCount, qint32(data.size()));
        QCOMPARE(path->CaptureBuffer, data);
        QCOMPARE(comm->InBufferCount(), int(after.size()));
        // More arrives meanwhile: it waits too.
        line.feed("x");
        QTRY_COMPARE(comm->InBufferCount(), int(after.size()) + 1);
        QCOMPARE(complete.size(), 1);
        QCOMPARE(read.size(), 1);

        path->release();
        if (after.startsWith('\xD7')) {
            QTRY_COMPARE(complete.size(), 2);
            QCOMPARE(read.size(), 2);
            QCOMPARE(read[1][0].toString(), QStringLiteral("a.bin"));
            QCOMPARE(path->CaptureBuffer, kABinData);
            QCOMPARE(comm->InBufferCount(), 1);
        } else {
            // Not a transfer: rejected, and shown whole by the receive window.
            QTRY_COMPARE(bad.size(), 1);
            QCOMPARE(comm->InBufferCount(), int(after.size()) + 1);
        }
    }

    void headerFieldsAreTakenAsAnnounced_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("length");
        QTest::newRow("comma in the name")
            << QByteArray::fromHex("D703612C622A00000100") << QStringLiteral("a,b") << 256u;
        QTest::newRow("Chinese name in GBK")
            << QByteArray::fromHex("D708CEC4BCFE2E7478742A00000003") << QStringLiteral("文件.txt")
            << 3u;
        QTest::newRow("largest length")
            << QByteArray::fromHex("D701782AFFFFFFFF") << QStringLiteral("x") << 4294967295u;
        QTest::newRow("empty name") << QByteArray::fromHex("D7002A00000002") << QString() << 2u;
    }
    void headerFieldsAreTakenAsAnnounced() {
        QFETCH(QByteArray, header);
        QFETCH(QString, name);
        QFETCH(quint32, length);
        QSignalSpy read(path.get(), &CapturePath::headerRead);
        QVERIFY(feedAndSettle(header));
        QCOMPARE(read.size(), 1);
        QCOMPARE(read[0][0].toString(), name);
        QCOMPARE(read[0][1].value<quint32>(), length);
        QCOMPARE(path->CaptureLength, length);
        // The header took exactly its own bytes: the next ones are data.
        QVERIFY(feedAndSettle(QByteArray("\xD7\x2A", 2)));
        QCOMPARE(path->CaptureBuffer, QByteArray("\xD7\x2A", 2));
    }

    void aBadFirstByteLeavesItAndTheRestForTheReceiveWindow() {
        QSignalSpy bad(path.get(), &CapturePath::badHeader);
        QSignalSpy shown(path.get(), &CapturePath::leftover);
        // The first 41 is the rejected marker: it stays, with 41 42 43 after it.
        line.feed(QByteArray::fromHex("41414243"));
        QTRY_COMPARE(bad.size(), 1);
        QCOMPARE(comm->InBufferCount(), 4);
        // Later passes take nothing and complain no more.
        line.feed(QByteArray::fromHex("D7"));
        QTRY_COMPARE(comm->InBufferCount(), 5);
        path->receivePass();
        QCOMPARE(comm->InBufferCount(), 5);
        QCOMPARE(bad.size(), 1);

        path->drainLeftover();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0][0].toString(), QStringLiteral("41:41:42:43:D7:"));
        QCOMPARE(shown[0][1].toBool(), true);
        QCOMPARE(comm->InBufferCount(), 0);

        // The window opens again: a transfer is captured as usual.
        path->reset();
        fed = taken();
        QSignalSpy read(path.get(), &CapturePath::headerRead);
        QVERIFY(feedAndSettle(kABinHeader));
        QCOMPARE(read.size(), 1);
    }

    void leftoverInTextModeIsDecodedCharacters() {
        comm->setInputMode(CommControl::comInputModeText);
        QSignalSpy bad(path.get(), &CapturePath::badHeader);
        QSignalSpy shown(path.get(), &CapturePath::leftover);
        line.feed(QByteArray::fromHex("41D6D042"));
        QTRY_COMPARE(bad.size(), 1);
        path->drainLeftover();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0][0].toString(), QStringLiteral("A中B"));
        QCOMPARE(shown[0][1].toBool(), false);
        QCOMPARE(comm->RThreshold(), 1);
        QCOMPARE(comm->InputLen(), 1);
    }

    // A length past the buffer: the file ends when the buffer is full, told once; the
    // rest of its data is dropped and counted, never taken for a next transfer.
    void dataBeyondTheBufferIsDroppedAndToldOnce() {
        QSignalSpy overflow(path.get(), &CapturePath::overflow);
        QSignalSpy complete(path.get(), &CapturePath::fileComplete);
        QSignalSpy arrived(path.get(), &CapturePath::dataArrived);
        QVERIFY(feedAndSettle(QByteArray::fromHex("D701782AFFFFFFFF")));
        QByteArray data(CapturePath::kBufferSize + 100, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 7 + i / 251);
        line.feed(data.left(CapturePath::kBufferSize - 50));
        QTRY_COMPARE(arrived.size(), 1);
        QCOMPARE(overflow.size(), 0);
        line.feed(data.mid(CapturePath::kBufferSize - 50));
        QTRY_COMPARE(overflow.size(), 1);
        QCOMPARE(path->CaptureCount, CapturePath::kBufferSize);
        QCOMPARE(path->CaptureBuffer, data.left(CapturePath::kBufferSize));
        const int passes = arrived.size();
        line.feed(QByteArray::fromHex("D7012A"));
        QTRY_COMPARE(arrived.size(), passes + 1);
        QCOMPARE(overflow.size(), 1);
        QCOMPARE(complete.size(), 0);
        QCOMPARE(path->CaptureCount, CapturePath::kBufferSize);
        QCOMPARE(comm->InBufferCount(), 0);
        QCOMPARE(path->taken().dropped, 100 + 3);
        // The line goes quiet: the rest is over, and once the file is saved a next
        // transfer is taken.
        path->endTransfer();
        path->release();
        fed = taken();
        QSignalSpy read(path.get(), &CapturePath::headerRead);
        QVERIFY(feedAndSettle(kABinHeader));
        QCOMPARE(read.size(), 1);
    }

    void aMegabyteInArbitraryChunksArrivesIntact() {
        QRandomGenerator random(20261208);
        QByteArray data(1000000, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
        for (int b = 0; b < 256; ++b)
            data[b] = static_cast<char>(b);
        for (int i = 0; i < 200; ++i) { // probe and header look-alikes inside the data
            const qsizetype at = random.bounded(256, int(data.size()) - 2);
            data[at] = '\xD7';
            data[at + 1] = '\xFE';
        }
        QSignalSpy progress(path.get(), &CapturePath::progress);
        QSignalSpy arrived(path.get(), &CapturePath::dataArrived);
        QVERIFY(feedAndSettle(QByteArray::fromHex("D701782A000F4240")));
        int chunks = 0;
        for (qsizetype at = 0; at < data.size(); ++chunks) {
            const qsizetype size = std::min<qsizetype>(random.bounded(1, 8193), data.size() - at);
            QVERIFY(feedAndSettle(data.mid(at, size)));
            at += size;
        }
        QCOMPARE(path->CaptureCount, 1000000);
        QCOMPARE(path->CaptureBuffer, data);
        QCOMPARE(progress.last()[0].value<qint32>(), 1000000);
        // One read per arrival, not one per byte: a large file keeps the window live.
        QCOMPARE(arrived.size(), chunks);
    }
};

T83_TEST_MAIN(TestCapturePath)
#include "test_capturepath.moc"
