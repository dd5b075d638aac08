#include "link/link.h"

Link::Link(CommControl::PortResolver resolver, SerialBackendFactory factory, QObject* parent)
    : QObject(parent), MSComm1(std::move(resolver), std::move(factory)), parser(MSComm1),
      cycle(MSComm1, parser) {
    connect(&MSComm1, &CommControl::OnComm, this, [this] {
        if (MSComm1.CommEvent() == CommControl::comEvReceive)
            parser.ParseModuleReply();
    });
    // At once, before any timer can tick on the dead line: a read running on would end
    // with its success report on a closed port.
    connect(&MSComm1, &CommControl::portLost, this, &Link::resetToIdle);
}

void Link::sendProbe() {
    parser.ModuleAnswered = false;
    MSComm1.Output(QByteArray::fromHex("D7FE"));
    cycle.startProbeTimeout();
}

void Link::resetToIdle() {
    parser.reset();
    cycle.stop();
}
