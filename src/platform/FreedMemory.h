#pragma once
// Gives the memory the allocator keeps free back to the system. Many small blocks freed at once
// (a large folder's rows, a closed archive's records) otherwise stay held by the process.

// Returns unused heap to the system where the C library offers a way; does nothing elsewhere.
void ReturnFreedMemory();
