#pragma once

#include "link/commcontrol.h"
#include "link/readcycle.h"
#include "link/replyparser.h"

#include <QObject>

// The module link without its windows: the serial object, the reply parser and the timed
// requests, and the link state that decides which commands make sense. Windows listen to
// its signals and call it; it knows no window.
class Link : public QObject {
    Q_OBJECT
  public:
    Link(CommControl::PortResolver resolver, SerialBackendFactory factory,
         QObject* parent = nullptr);

    enum class DisplayFormat { Hex, Text };
    // Received data that belongs to no reply is shown as hex pairs (read as bytes) or as
    // characters (read as text in the ANSI code page).
    void setDisplayFormat(DisplayFormat format);
    DisplayFormat displayFormat() const {
        return parser.ShowAsText ? DisplayFormat::Text : DisplayFormat::Hex;
    }

    // Sends the probe D7 FE and starts its time-out; the module has not answered yet.
    void sendProbe();
    // Returns the parser (its collection and version timers included) and the timed
    // requests to idle: the port was opened afresh or lost, so a reply cut off before
    // must not swallow what the module says next, and no read runs on.
    void resetToIdle();

    // The commands that need a working module / an open port are to be switched on or
    // off; the main window runs its gating routines on these.
    void SetModuleCommandsEnabled(bool on) { emit moduleCommandsEnabled(on); }
    void SetLinkCommandsEnabled(bool on) { emit linkCommandsEnabled(on); }

    CommControl MSComm1;
    ReplyParser parser;
    ReadCycle cycle;

    // When false a typed key is sent but not shown.
    bool EchoKeys = true;
    // The command window sent a frame within the last 50 ms: a D7 FD then is its answer,
    // not the start of an automatic read.
    bool CommandBusy = false;

  signals:
    void moduleCommandsEnabled(bool on);
    void linkCommandsEnabled(bool on);
};
