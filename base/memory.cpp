#include "base/memory.h"

#include <cstdlib>

namespace {
int allocationsBeforeFailure = -1;
}

void* heapAlloc(size_t size) {
  if (allocationsBeforeFailure == 0) {
    allocationsBeforeFailure = -1;
    return nullptr;
  }
  if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
  return std::malloc(size == 0 ? 1 : size);
}

void heapFree(void* block) { std::free(block); }

void heapFailAfter(int count) { allocationsBeforeFailure = count; }
