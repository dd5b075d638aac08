#include "link/modulesession.h"

#include "protocol/codes.h"
#include "protocol/frames.h"
#include "serial/serialsettings.h"

#include <utility>

namespace {
// Line time of `bytes` bytes at the port's settings, in milliseconds (rounded up).
int lineTimeMs(const CommControl& comm, qsizetype bytes) {
    const auto settings = SerialSettings::parse(comm.Settings());
    const int rate = settings && settings->rate > 0 ? settings->rate : 9600;
    const int bits = settings ? settings->bitsPerCharacter() : 10;
    return int((bytes * bits * 1000 + rate - 1) / rate);
}
} // namespace

ModuleSession::ModuleSession(CommControl::PortResolver resolver, SerialBackendFactory factory,
                             QObject* parent)
    : QObject(parent), link_(std::move(resolver), std::move(factory)), capture_(link_.MSComm1) {
    ReplyParser& parser = link_.parser;
    ReadCycle& cycle = link_.cycle;
    statusWait_.setSingleShot(true);

    connect(&parser, &ReplyParser::moduleAnswered, this, [this] {
        // The probe's outcome is in: a probe from anyone else reads again.
        const bool read = std::exchange(readAfterAnswer_, true);
        emit answered();
        if (link_.CommandBusy || !read)
            return; // the command window's own probe: its answer is only logged
        emit readStarted();
        link_.cycle.startRead();
    });
    connect(&parser, &ReplyParser::parameterReply, this,
            [this](quint8 code, const QByteArray& payload) {
                params.storeReply(code, payload);
                emit parameterStored(code);
            });
    connect(&parser, &ReplyParser::statusMessage, this,
            [this](quint8 code, const QString& text, bool information) {
                emit moduleStatus(code, text, information);
                if (awaitingStatus_)
                    finishWrite(code == t83::status::FrequencySet,
                                code == t83::status::FrequencySet ? QString() : text);
            });

    connect(&cycle, &ReadCycle::probeTimedOut, this, [this] {
        emit noAnswer();
        readAfterAnswer_ = true;
    });
    connect(&cycle, &ReadCycle::readProgress, this, &ModuleSession::readProgress);
    connect(&cycle, &ReadCycle::readFinished, this, [this](bool refresh) {
        params.markMissing();
        emit readFinished(refresh, params.missing());
    });
    connect(&cycle, &ReadCycle::promptCloseDue, this, [this] {
        promptDone();
        emit promptCloseDue();
    });
    connect(&cycle, &ReadCycle::portPollFinished, this, &ModuleSession::pollFinished);
    connect(&cycle, &ReadCycle::readCutOff, this, &ModuleSession::readCutOff);
    connect(&cycle, &ReadCycle::portPollCutOff, this, &ModuleSession::pollCutOff);

    // The link has reset itself already (its own connection comes first).
    connect(&link_.MSComm1, &CommControl::portLost, this, [this](const QString& detail) {
        if (writePending_)
            finishWrite(false, QStringLiteral("串口断开"));
        emit lineLost(detail);
    });
    connect(&link_.MSComm1, &CommControl::OutputDrained, this, [this] {
        if (writePending_ && !awaitingStatus_)
            finishWrite(true, {});
    });
    connect(&statusWait_, &QTimer::timeout, this, [this] {
        if (!writePending_)
            return;
        if (awaitingStatus_)
            finishWrite(false, QStringLiteral("模块无应答"));
        else if (comm().OutBufferCount() == 0)
            finishWrite(true, {});
        else
            finishWrite(false, QStringLiteral("串口写入超时"));
    });
}

bool ModuleSession::sequenceRunning() const {
    const ReadCycle& c = link_.cycle;
    return c.Timer2.isActive() || c.Timer4.isActive() || c.Timer5.isActive();
}

void ModuleSession::probe(bool thenRead) {
    readAfterAnswer_ = thenRead;
    link_.sendProbe();
}

void ModuleSession::promptDone() {
    link_.cycle.Timer4.stop();
    link_.cycle.startPortPoll();
}

bool ModuleSession::SendFrame(const QByteArray& frame) {
    if (comm().Output(frame)) {
        // A frequency write (the module window's, a channel's, or one typed in the
        // command window) is answered by a status reply within a second of leaving.
        if (frame.size() == 2 + t83::CommandPayloadLength(t83::cmd::SetFrequencies) &&
            quint8(frame.at(0)) == t83::kFrameStart &&
            quint8(frame.at(1)) == t83::cmd::SetFrequencies)
            link_.parser.expectStatusReply(lineTimeMs(comm(), comm().OutBufferCount()) +
                                           kStatusReplyMs);
        return true;
    }
    if (comm().PortOpen())
        emit userMessage(QStringLiteral("串口写入失败,命令没有发送。"));
    return false;
}

bool ModuleSession::PortOpenForUser() {
    if (comm().PortOpen())
        return true;
    emit userMessage(QStringLiteral("串口未打开,命令没有发送。请先在\"串口设置\"中打开串口。"));
    return false;
}

bool ModuleSession::writeSettings(const QList<QByteArray>& frames, bool quiet) {
    statusWait_.stop();
    writePending_ = false;
    awaitingStatus_ = false;
    quietWrite_ = quiet;
    if (!comm().PortOpen())
        return false;
    qsizetype bytes = 0;
    bool frequency = false;
    for (const QByteArray& f : frames) {
        frequency = frequency || (f.size() > 1 && quint8(f.at(1)) == t83::cmd::SetFrequencies);
        bytes += f.size();
    }
    for (const QByteArray& f : frames)
        if (!SendFrame(f))
            return false;
    writePending_ = true;
    awaitingStatus_ = frequency;
    // The reply, or the frames' leaving, ends the write; the line time of the frames
    // plus a second is as long as it may take.
    statusWait_.start(lineTimeMs(comm(), bytes) + kStatusReplyMs);
    if (!awaitingStatus_ && frames.isEmpty())
        finishWrite(true, {});
    return true;
}

bool ModuleSession::writePortSetting(int port, quint8 directionAnswer, quint8 mode) {
    return writeSettings({t83::PortWriteFrame(port, directionAnswer, mode)});
}

void ModuleSession::finishWrite(bool ok, const QString& reason) {
    statusWait_.stop();
    writePending_ = false;
    awaitingStatus_ = false;
    emit writeFinished(ok, reason);
}

void ModuleSession::setCaptureOpen(bool open) {
    captureOpen_ = open;
    capture_.reset();
    link_.parser.setReceiveRoute(open ? &capture_ : nullptr);
}
