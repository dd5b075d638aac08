#pragma once

// Command line of the simulator program.

#include "sim/impairment.h"
#include "sim/options.h"

#include <QString>
#include <QStringList>

namespace t83sim {

struct CliConfig {
    SimOptions options;
    bool peer = false; // start a second, radio-linked station on its own pty
    QString device;    // run the first station on this serial device
    int baud = 9600;
    bool verbose = false;   // log frames and radio traffic on stderr
    bool randomize = false; // every module (the first and each swapped in) random
    ImpairOptions impair;   // the radio's faults (with --peer)
    bool helpRequested = false;
    QString helpText;
};

// Parses the arguments (the first one is the program name). Returns false
// with a message for a malformed or unknown option.
bool parseCommandLine(const QStringList& arguments, CliConfig* config, QString* error);

} // namespace t83sim
