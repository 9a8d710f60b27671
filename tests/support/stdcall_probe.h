// Calls a function with 32-bit arguments pushed the stdcall way and measures how far the stack
// pointer moved across the call: 0 when the callee removed exactly its own arguments.
#pragma once

#include <cstdint>

namespace vorkast::test {

// True where the probe works (32-bit x86 builds); other builds have one calling convention.
bool StdcallProbeAvailable();

struct ProbedCall {
    std::uintptr_t result;   // EAX after the call
    std::intptr_t stack_delta;  // ESP after the call minus ESP before the arguments were pushed
};

ProbedCall CallStdcall(const void* function, const std::uint32_t* args, int count);

}  // namespace vorkast::test
