// Ctrl+C, a closed terminal, SIGTERM (also what the copy gets when the program the user
// started dies): the run stops at the next frame, ends the programs it started and removes
// what it had begun to write, instead of dying with a half-written file on the disk.
#pragma once

namespace kvx {

void CatchStopSignals();
bool StopRequested();

// What a stopped run says, whatever failed around it (a child program killed by the same
// Ctrl+C, a read cut short): the stop, not their failure, is the reason.
inline constexpr char kInterrupted[] = "interrupted; nothing was written";

}  // namespace kvx
