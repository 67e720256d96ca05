// Termination requests from outside (SIGTERM, SIGINT, SIGHUP) reach the
// program's loops as AppTerminate events, so a logout or a kill still leaves
// the room cleanly and withdraws the lobby entry.
#pragma once

// Blocks the three signals in the calling thread (and so in every thread
// started afterwards) and starts a thread that waits for them and hands each
// to the main thread as an AppTerminate event. Call it before any other
// thread starts.
void InstallTerminationSignals();
