// Linked as an object (not from the core's archive) into every program that links the core, so
// its allocator settings hold before main in the program, the tests and the benchmarks alike.

#include "platform/FreedMemory.h"

namespace {

const bool kAllocatorSetUp = [] {
    SetUpAllocator();
    return true;
}();

}  // namespace
