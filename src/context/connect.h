// The connect worker, the rules every worker follows, and the close path.
#pragma once

#include <cstdint>

namespace stb {

// Starts the connect worker; 0 (and nothing started) unless the context is Idle and
// no worker is running. Atomic: two quick calls never start two workers.
int StartConnect();
// Opens the configured port and synchronises with the box; an error code.
int OpenAndSynchronise();
// The connect thread's body.
int ConnectWorker();

// Claims the single worker slot and starts body on a new thread (the shared start
// rule of StartConnect and StartOperation). Returns 1 when started.
int StartWorker(int (*body)());
// True while a worker thread has been started and not yet ended.
bool WorkerRunning();
// Waits up to timeoutMs for the running worker to end; true when none is left.
bool WaitForWorker(uint32_t timeoutMs);

// Asks the running worker to stop. Refused (false, nothing changed) once the box
// burns: from then on the burn, the reboot and the result go on.
bool RequestCancel();
// The upgrade's step into the burn: sets State to Flashing unless a cancel has been
// taken, in which case nothing may be burned (false). One step against
// RequestCancel, so a cancel the tool accepted always means nothing was burned.
bool EnterFlashing();

// The close path: cancels and waits up to 10 s for a running worker (one that does
// not end is left to the process's exit, unless the box burns: then it waits until
// burn and reboot are done), saves the settings, destroys the context.
void CloseContext();

}  // namespace stb
