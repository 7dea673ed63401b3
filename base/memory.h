// Heap allocation for the system's own texts and records.
//
// Every allocation the system makes goes through here so that tests can make
// one fail and check that the field concerned keeps its old value.
#pragma once
#include <cstddef>

// Returns a new block of size bytes, or nullptr; the caller frees it with
// heapFree.
void* heapAlloc(size_t size);

// Releases a block from heapAlloc; nullptr is allowed.
void heapFree(void* block);

// Test seam: the next `count` allocations succeed, the one after fails, and
// then allocation works again. A negative count switches failing off.
void heapFailAfter(int count);
