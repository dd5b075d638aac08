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
};

T83_TEST_MAIN(TestPortList)
#include "test_portlist.moc"
