#pragma once

#include <QStringList>
#include <functional>

// The persisted table behind the port numbers: value names "COMn", values device paths.
class PortTable {
  public:
    virtual ~PortTable() = default;
    virtual QStringList names() const = 0;
    virtual QString device(const QString& name) const = 0;
    virtual void remove(const QString& name) = 0;
    virtual void write(const QString& name, const QString& device) = 0;
};

// Port numbers (COM1, COM2 ...) and the devices behind them. On Windows a number is the
// COM name itself. Elsewhere a persisted table maps
// "COMn" to a device path, so that /dev/ttyUSB0 or a pseudo-terminal can be a COM port
// and keeps its number from one run to the next.
class PortMap {
  public:
    // Lists the devices the system reports (Windows: "COM3"; elsewhere: "/dev/ttyUSB0").
    using Enumerator = std::function<QStringList()>;

    explicit PortMap(PortTable& table, Enumerator enumerator = {});

    // Device path to open for a port number; empty when nothing is mapped to it.
    QString deviceFor(int port) const;
    // Maps a port number to a device (replacing what it held).
    void map(int port, const QString& device);
    // The port names present ("COM1", "COM3" ...): every mapped device that exists plus
    // every enumerated device, new devices getting the lowest free number.
    QStringList presentPortNames();

    // The serial devices the system reports, each under its stable name where it has
    // one (see preferStableNames).
    static QStringList systemPorts();
    // Replaces each device that a link in <root>/dev/serial/by-id points to by that
    // link: the by-id name stays with a USB adapter when its ttyUSBn name changes with
    // the plug order. Devices without such a link are kept as they are. The links are
    // looked for under root ("/" on a running system; tests give a folder of their own).
    static QStringList preferStableNames(const QStringList& devices, const QString& root);

    // What the system reports about the device behind a port number.
    struct DeviceDescription {
        QString device;      // the mapped path (or "COMn" on Windows); empty if none
        QString target;      // the device it resolves to, when the path is a link
        QString description; // as reported by the driver; empty when not reported
        QString manufacturer;
        QString serialNumber;
        bool present = false;
    };
    DeviceDescription describe(int port) const;

  private:
    PortTable& table_;
    Enumerator enumerator_;
};

// Fills the shared port-name list in its list form: upper case, only names holding
// "COM", and one empty entry when there is none. Returns the names joined, each
// followed by a comma, or the empty text when the list holds only the empty entry.
QString ListSerialPorts(PortMap& portMap, QStringList& serialPortNames);
