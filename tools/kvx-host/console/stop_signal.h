// Ctrl+C, a closed terminal, SIGTERM (also what the copy gets when the program the user
// started dies): the run stops at the next frame, ends the programs it started and removes
// what it had begun to write, instead of dying with a half-written file on the disk.
//
// A stop also reaches the programs the run started (ffprobe, the decoders, the encoder):
// each is asked to end at once (SIGTERM; on Windows the console's Ctrl+C reaches them
// itself) and killed kChildGraceMs later, so a stopped run ends within 3 s whatever they do
// and every wait on them ends with them.
#pragma once
#include <cstdint>

namespace kvx {

void CatchStopSignals();
bool StopRequested();

// A program this run started (its process id on POSIX, its handle on Windows): a stop ends
// it from now until ForgetChild, which is called once it has ended and before its id or
// handle is given up.
void WatchChild(intptr_t process);
void ForgetChild(intptr_t process);

// How long the programs a run started have to end after a stop; the copy of a private run
// gets kCopyGraceMs before the program the user started kills it (see run/private_run.h).
inline constexpr int kChildGraceMs = 2000;
inline constexpr int kCopyGraceMs = 2600;

// What a stopped run says, whatever failed around it (a child program killed by the same
// Ctrl+C, a read cut short): the stop, not their failure, is the reason.
inline constexpr char kInterrupted[] = "interrupted; nothing was written";

}  // namespace kvx
