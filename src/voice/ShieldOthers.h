#pragma once

#include <string>

// Lowers (restore false) every other program's audio streams to silence, or
// gives each stream back its own level and each lowered program the level the
// server remembered for it (restore true). While lowered, streams that other
// programs open are lowered too, and get their program's level back with the
// rest. Silent on failure; each call to the server has a deadline of about a
// second. The restore goes stream by stream: a stream that has gone meanwhile
// is passed over, and the levels the server remembers are always written
// back. A restore the server did not take (it cannot be reached) keeps the
// saved levels and is tried again at the next lowering and at the next
// restore (the shutdown's).
// On Windows the streams are the programs' Core Audio sessions on every active
// render endpoint (ShieldOthersWindows.cpp, SessionShield) and the server's
// memory is Windows' own, by program; the same guarantees hold there.
void ShieldOthers(bool restore);

// The file beside the program that holds the saved levels from before a
// lowering until its restore succeeded, so that a crash, SIGKILL or a lost
// display does not leave other programs silent.
std::string ShieldLevelsPath();

// At start, before anything plays: gives back what the file names, if a run
// ended without its restore. Logs one line when it found the file.
void RestoreLevelsLeftLowered();
