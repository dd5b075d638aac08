#pragma once

#include <QString>

class AppContext;

// Opens the port at start-up with ",n,8,1"; on failure tells the user, switches both
// command groups off and shows the failure in the port panel.
bool OpenStartupPort(AppContext& ctx, qint16 port, qint32 rate);
// Closes the port and opens it again with new settings; stores port and rate when it
// worked.
bool ApplyPortSettings(AppContext& ctx, qint16 port, qint32 rate, const QString& settings);
// Opens the port again after its line was lost, for a station that waits for it to
// return: no message when it is not back yet. When it opens, the port panel and the link
// commands come back as at start-up.
bool ReturnLostPort(AppContext& ctx, qint16 port, const QString& settings);
