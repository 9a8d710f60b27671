// The C++ exception machinery's per-thread state, held in a fixed table so that no thread's
// first exception needs memory (see exception_globals.cpp).
#pragma once

namespace vorkast {

// Gives the calling thread's record back; called as a thread leaves the process.
void ReleaseThreadExceptionGlobals() noexcept;

}  // namespace vorkast
