#include "link/link.h"

#include "protocol/frames.h"

Link::Link(CommControl::PortResolver resolver, SerialBackendFactory factory, QObject* parent)
    : QObject(parent), MSComm1(std::move(resolver), std::move(factory)), parser(MSComm1),
      cycle(MSComm1, parser) {
    // The line as every port is opened with: received data shown as hex (read as bytes)
    // and DTR on, unless a sender holds it off.
    MSComm1.setInputMode(CommControl::comInputModeBinary);
    MSComm1.setDTREnable(true);
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
    MSComm1.Output(t83::ProbeFrame());
    cycle.startProbeTimeout();
}

void Link::resetToIdle() {
    parser.reset();
    cycle.stop();
}

void Link::setDisplayFormat(DisplayFormat format) {
    const bool text = format == DisplayFormat::Text;
    parser.ShowAsText = text;
    MSComm1.setInputMode(text ? CommControl::comInputModeText : CommControl::comInputModeBinary);
    MSComm1.setInputLen(text ? 0 : 1);
}
