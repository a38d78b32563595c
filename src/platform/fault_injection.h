// For tests: makes one call of a file-system primitive fail, so that every
// failure branch above it can be reached on both platforms without special
// files or permissions. Costs one atomic load per primitive call otherwise.
#pragma once

#include <cstddef>

namespace kel::os {

enum class Primitive { MakeDirectory, CopyOneFile, Rename, RemoveFile, RemoveEmptyDirectory, OpenForWrite, TempName, Write, Any };

// The nth call (1-based) from now of the primitive fails once; Any counts the
// calls of every primitive together. Replaces an earlier request.
// With times, that call and the next times-1 calls of the primitive fail.
void FailNthCall(Primitive primitive, int nth, int times = 1);
// Whether an armed fault has not fired (yet).
bool FaultPending();
// The nth call of any primitive from now ends the process at once (exit code
// kCrashExitCode), as if killed: nothing is flushed, no destructor runs. A
// failure armed beside it still fires.
void CrashAtNthCall(int nth);
constexpr int kCrashExitCode = 86;
void ClearFault();
// Calls counted since the last CrashAtNthCall or ClearFault (all primitives).
int PrimitiveCalls();

// How long a call waits for a system another object or process holds
// (milliseconds); tests shorten it. Reads the current value with no argument.
unsigned LockWaitMilliseconds();
void SetLockWaitMilliseconds(unsigned milliseconds);

// From how many nodes an option document's system.xml is built on a second
// thread; tests lower it so that small systems take that way too.
std::size_t BesideFromNodes();
void SetBesideFromNodes(std::size_t nodes);

// Called by each backend primitive first: true when this call is to fail.
bool Faulted(Primitive primitive);

}  // namespace kel::os
