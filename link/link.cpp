#include "link/link.h"

Link::Link(CommControl::PortResolver resolver, SerialBackendFactory factory, QObject* parent)
    : QObject(parent), MSComm1(std::move(resolver), std::move(factory)), parser(MSComm1),
      cycle(MSComm1, parser) {
    connect(&MSComm1, &CommControl::OnComm, this, [this] {
        if (MSComm1.CommEvent() == CommControl::comEvReceive)
            parser.ParseModuleReply();
    });
}

void Link::sendProbe() {
    parser.ModuleAnswered = false;
    MSComm1.Output(QByteArray::fromHex("D7FE"));
    cycle.startProbeTimeout();
}

void Link::resetToIdle() {
    parser.reset();
}
