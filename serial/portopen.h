#pragma once

#include "link/commcontrol.h"

// Opens the port: idle receive configuration (threshold and read length 1), port number,
// settings text, open. Stops at the first step that fails.
CommControl::Result OpenPort(CommControl& comm, qint16 port, const QString& settings);
// Closes the port when open, then opens it with the new number and settings.
CommControl::Result ReopenPort(CommControl& comm, qint16 port, const QString& settings);
