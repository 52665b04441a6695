#pragma once
// The allocator's settings and giving freed memory back. Many small blocks freed at once (a large
// folder's rows, a closed archive's records) otherwise stay held by the process.

// Sets the allocator up the way every process that scans or saves runs: the program, each test
// and each benchmark, so what a benchmark measures is what the program does. Runs once, before
// main, from an object the build links into every program that links the core; later calls do
// nothing.
void SetUpAllocator();

// Returns unused heap to the system where the C library offers a way; does nothing elsewhere.
void ReturnFreedMemory();
