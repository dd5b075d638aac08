#pragma once

// What the command line's exit status tells a script.
namespace exitcode {
inline constexpr int Ok = 0;          // done; the module passed
inline constexpr int Fail = 1;        // a field differs, a write was refused, a parameter missing
inline constexpr int Usage = 2;       // unknown command, bad option or value, bad profile or file
inline constexpr int Port = 3;        // no such port, busy, no permission, lost during the run
inline constexpr int NoAnswer = 4;    // the module did not answer, or a reply timed out
inline constexpr int NotRecorded = 5; // the results database is unavailable or refused the run
// Stopped by a signal: 128 plus its number (130 for SIGINT, 143 for SIGTERM).
inline constexpr int Signalled = 128;
} // namespace exitcode
