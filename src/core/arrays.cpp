#include "core/arrays.h"

#include "core/runtime.h"

namespace {
constexpr int64_t kLargestBlock = 0x7FFFFFFF;
}

ArrayBlock* AllocArray(int32_t elementSize, int32_t n) {
    // The size is refused rather than wrapped when it does not fit 32 bits.
    if (elementSize <= 0 || n < 0) return nullptr;
    int64_t bytes = static_cast<int64_t>(elementSize) * (static_cast<int64_t>(n) + 1) + sizeof(ArrayBlock);
    if (bytes > kLargestBlock) return nullptr;
    auto* block = static_cast<ArrayBlock*>(HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(bytes)));
    if (block) block->count = n;
    return block;
}

ArrayBlock* AllocArrayN(int32_t elementSize, int32_t dimensions, int32_t* table) {
    if (dimensions < 2 || !table) return nullptr;
    int64_t strides[16];
    if (dimensions > 16) return nullptr;
    int64_t stride = 1;
    for (int32_t k = dimensions - 1; k >= 0; --k) {
        if (table[k] < 0) return nullptr;
        strides[k] = k == dimensions - 1 ? table[k] : stride;
        stride *= table[k];
        if (stride > kLargestBlock) return nullptr;
    }
    int64_t n = static_cast<int64_t>(table[0]) * strides[0];
    for (int32_t k = 0; k < dimensions; ++k) table[k] = static_cast<int32_t>(strides[k]);
    return AllocArray(elementSize, static_cast<int32_t>(n));
}

void FreeArray(void* element0) {
    if (element0) HeapFree(runtime.heap, 0, ArrayBlockOf(element0));
}
