#pragma once

#include "cli/command.h"
#include "cli/options.h"

// `ports`: every port number the windows would offer, with its device, the driver's
// description and the USB adapter's serial number.
class PortsCommand : public Command {
    Q_OBJECT
  public:
    PortsCommand(const CliOptions& options, QObject* parent = nullptr)
        : Command(parent), json_(options.json) {}
    void start() override;

  private:
    bool json_;
};
