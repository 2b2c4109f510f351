// COM task memory: blocks that cross module boundaries. It is the C heap, so a block allocated in
// one module is freed in another safely.
#pragma once

#include "platform/win/types.h"

extern "C" {
void* CoTaskMemAlloc(SIZE_T size);
void* CoTaskMemRealloc(void* block, SIZE_T size);
void CoTaskMemFree(void* block);
}
