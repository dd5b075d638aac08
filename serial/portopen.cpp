#include "serial/portopen.h"

namespace {
// Runs the steps in order and stops at the first that fails.
template <typename... Steps> CommControl::Result runSteps(Steps&&... steps) {
    CommControl::Result result;
    ((result.ok() ? (void)(result = steps()) : (void)0), ...);
    return result;
}
} // namespace

CommControl::Result OpenPort(CommControl& comm, qint16 port, const QString& settings) {
    return runSteps(
        [&] {
            comm.setRThreshold(1);
            comm.setInputLen(1);
            return comm.setCommPort(port);
        },
        [&] { return comm.setSettings(settings); }, [&] { return comm.setPortOpen(true); });
}

CommControl::Result ReopenPort(CommControl& comm, qint16 port, const QString& settings) {
    if (comm.PortOpen()) {
        const auto closed = comm.setPortOpen(false);
        if (!closed.ok())
            return closed;
    }
    return OpenPort(comm, port, settings);
}
