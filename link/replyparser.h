#pragma once

#include <QtGlobal>

class AppContext;

// Handles every received byte: in the idle state shows it (hex pairs or characters) and
// watches for D7; after D7 and a reply code collects the code's fixed-length payload and
// dispatches it. Processes what is buffered, a bounded amount per call, and returns to
// the event loop; a payload is handled only once all its bytes have arrived.
void ParseModuleReply(AppContext& ctx);

// Payload length of a listed reply code, or -1 for a code the parser does not list
// (and 0 for the two-byte replies F7, FA, FD, FF).
int ReplyPayloadLength(quint8 code);
