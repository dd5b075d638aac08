// The list of ports present: mapped devices that exist, enumerated devices given the
// lowest free number and kept across runs, the list's form and its empty case.
#include "app/settingsstore.h"
#include "serial/portmap.h"
#include "tests/support/pty.h"
#include "tests/support/testenv.h"

class TestPortList : public QObject {
    Q_OBJECT
  private slots:
    void init() { testenv::reset(); }

    void noPortsGivesOneEmptyEntry() {
        SettingsStore store;
        StoredPortTable table(store);
        PortMap map(table, [] { return QStringList{}; });
        QStringList names{QStringLiteral("stale")};
        QCOMPARE(ListSerialPorts(map, names), QString());
        QCOMPARE(names, QStringList{QString()});
    }

    void enumeratedDevicesKeepTheirNumbersAcrossRuns() {
        Pty a;
        Pty b;
        QStringList present{a.slavePath(), b.slavePath()};
        {
            SettingsStore store;
            StoredPortTable table(store);
            PortMap map(table, [&] { return present; });
            QStringList names;
            QCOMPARE(ListSerialPorts(map, names), QStringLiteral("COM1,COM2,"));
            QCOMPARE(map.deviceFor(2), b.slavePath());
        }
        // Next run: the first device is gone, a new one appears; COM2 keeps its device
        // and the new one takes the lowest free number.
        Pty c;
        present = {b.slavePath(), c.slavePath()};
        SettingsStore store;
        StoredPortTable table(store);
        PortMap map(table, [&] { return present; });
        QStringList names;
        ListSerialPorts(map, names);
        // COM1 still maps to a's device, which exists until a is destroyed.
        QCOMPARE(names, (QStringList{QStringLiteral("COM1"), QStringLiteral("COM2"),
                                     QStringLiteral("COM3")}));
        QCOMPARE(map.deviceFor(3), c.slavePath());
        QCOMPARE(map.deviceFor(2), b.slavePath());
    }

    void mappedDevicesThatVanishedAreNotListed() {
        SettingsStore store;
        StoredPortTable table(store);
        PortMap map(table, [] { return QStringList{}; });
        Pty live;
        map.map(4, live.slavePath());
        map.map(2, QStringLiteral("/dev/t83-gone"));
        store.writeValue(RegKeys::PortMap, QStringLiteral("com7"), live.slavePath());
        QStringList names;
        QCOMPARE(ListSerialPorts(map, names), QStringLiteral("COM4,COM7,"));
        QCOMPARE(map.deviceFor(7), live.slavePath()); // lower-case names are upper-cased
        QCOMPARE(map.deviceFor(2), QStringLiteral("/dev/t83-gone"));
        QVERIFY(map.deviceFor(5).isEmpty());
        QVERIFY(map.deviceFor(0).isEmpty());
        // Remapping a number replaces what it held.
        map.map(7, QStringLiteral("/dev/t83-other"));
        QCOMPARE(map.deviceFor(7), QStringLiteral("/dev/t83-other"));
    }

    // A USB adapter seen through a fake device tree: <root>/dev/ttyUSBn and its stable
    // link <root>/dev/serial/by-id/usb-...; the real /dev is never looked at.
    void stableLinkKeepsTheNumberWhenTheTtyNameChanges() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir dev(root.filePath(QStringLiteral("dev")));
        QVERIFY(dev.mkpath(QStringLiteral("serial/by-id")));
        const auto plug = [&](const QString& tty, const QString& id) {
            QFile file(dev.filePath(tty));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QFile::remove(dev.filePath(QStringLiteral("serial/by-id/") + id));
            QVERIFY(QFile::link(QStringLiteral("../../") + tty,
                                dev.filePath(QStringLiteral("serial/by-id/") + id)));
        };
        const auto unplug = [&](const QString& tty) { QFile::remove(dev.filePath(tty)); };
        const QString adapterA = QStringLiteral("usb-Maker_Adapter_A1-if00-port0");
        const QString adapterB = QStringLiteral("usb-Maker_Adapter_B2-if00-port0");
        const QString linkA = dev.filePath(QStringLiteral("serial/by-id/") + adapterA);
        const QString linkB = dev.filePath(QStringLiteral("serial/by-id/") + adapterB);
        const QString other = dev.filePath(QStringLiteral("ttyS0")); // no stable link
        {
            QFile file(other);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        // The system reports plain names (inside the fake tree); the enumerator turns them into
        // by-id links.
        QStringList reported;
        const auto enumerate = [&] { return PortMap::preferStableNames(reported, root.path()); };
        const auto tty = [&](const QString& name) { return dev.filePath(name); };

        // Run 1: A on ttyUSB0, B on ttyUSB1.
        plug(QStringLiteral("ttyUSB0"), adapterA);
        plug(QStringLiteral("ttyUSB1"), adapterB);
        reported = {tty(QStringLiteral("ttyUSB0")), tty(QStringLiteral("ttyUSB1")),
                    tty(QStringLiteral("ttyS0"))};
        QCOMPARE(enumerate(), (QStringList{linkA, linkB, tty(QStringLiteral("ttyS0"))}));
        {
            SettingsStore store;
            StoredPortTable table(store);
            PortMap map(table, enumerate);
            QStringList names;
            QCOMPARE(ListSerialPorts(map, names), QStringLiteral("COM1,COM2,COM3,"));
            QCOMPARE(map.deviceFor(1), linkA);
            QCOMPARE(map.deviceFor(2), linkB);
        }
        // Run 2: plugged the other way round; each adapter keeps its number.
        unplug(QStringLiteral("ttyUSB0"));
        unplug(QStringLiteral("ttyUSB1"));
        plug(QStringLiteral("ttyUSB0"), adapterB);
        plug(QStringLiteral("ttyUSB1"), adapterA);
        {
            SettingsStore store;
            StoredPortTable table(store);
            PortMap map(table, enumerate);
            QStringList names;
            QCOMPARE(ListSerialPorts(map, names), QStringLiteral("COM1,COM2,COM3,"));
            QCOMPARE(QFileInfo(map.deviceFor(1)).canonicalFilePath(),
                     QFileInfo(dev.filePath(QStringLiteral("ttyUSB1"))).canonicalFilePath());
            QCOMPARE(map.deviceFor(2), linkB);
        }
        // Run 3: A is unplugged. COM1 keeps its number for its return but is not
        // listed; a new adapter C takes the lowest free number, not COM1.
        unplug(QStringLiteral("ttyUSB1"));
        const QString adapterC = QStringLiteral("usb-Maker_Adapter_C3-if00-port0");
        plug(QStringLiteral("ttyUSB2"), adapterC);
        reported = {tty(QStringLiteral("ttyUSB0")), tty(QStringLiteral("ttyUSB2"))};
        {
            SettingsStore store;
            StoredPortTable table(store);
            PortMap map(table, enumerate);
            QStringList names;
            QCOMPARE(ListSerialPorts(map, names), QStringLiteral("COM2,COM3,COM4,"));
            QCOMPARE(map.deviceFor(1), linkA);
            QCOMPARE(map.deviceFor(4), dev.filePath(QStringLiteral("serial/by-id/") + adapterC));
        }
        // A table from before stable names (COM5 = the plain tty) takes the link and
        // keeps its number; the device is listed once.
        {
            SettingsStore store;
            StoredPortTable table(store);
            for (const QString& name : table.names())
                table.remove(name);
            table.write(QStringLiteral("COM5"), dev.filePath(QStringLiteral("ttyUSB0")));
            PortMap map(table, enumerate);
            QStringList names;
            QCOMPARE(ListSerialPorts(map, names), QStringLiteral("COM5,COM1,"));
            QCOMPARE(map.deviceFor(5), linkB);
        }
    }
};

T83_TEST_MAIN(TestPortList)
#include "test_portlist.moc"
