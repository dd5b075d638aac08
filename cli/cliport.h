#pragma once

#include "link/modulesession.h"
#include "serial/settingsstore.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

// The port a command works on, as the user named it ("COM3" through the windows' port
// map, a device path, or "serial:XYZ"), opened at the given rate or the one the windows
// stored, with the module session on it. A lost line is reported once through lost().
class CliPort : public QObject {
    Q_OBJECT
  public:
    explicit CliPort(SettingsStore& store, QObject* parent = nullptr);
    ~CliPort() override;

    // Finds the device and opens it. On failure an exit status (exitcode::Port) and
    // `error` says why, in the words the windows use.
    std::optional<int> open(const QString& given, std::optional<qint32> rate, QString* error);
    // Gives DTR back and closes the port.
    void close();

    ModuleSession& session() { return *session_; }
    CommControl& comm() { return session_->comm(); }
    QString device() const { return device_; }
    // "COMn" when the device has a number in the port map, else what the user gave.
    QString name() const { return name_; }
    bool wasLost() const { return lost_; }
    bool isOpen() const { return session_->comm().PortOpen(); }

    // The rate the windows stored, else 9600.
    static qint32 StoredRate(const SettingsStore& store);

  signals:
    void lost(const QString& message);

  private:
    QString resolve(const QString& given, QString* error);

    SettingsStore& store_;
    StoredPortTable table_;
    PortMap map_;
    std::unique_ptr<ModuleSession> session_;
    QString device_;
    QString name_;
    bool lost_ = false;
};
