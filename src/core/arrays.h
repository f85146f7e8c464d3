// Array blocks on the private heap: a header, then the zero-filled elements.
// Array variables hold the address of element 0.
#pragma once

#include <cstdint>

struct ArrayBlock {
    int32_t count;     // highest index (1-D) or the product of the sizes (n-D)
    int32_t typeCode;  // element type: 5 for 32-bit integers, 7 for particles
};

constexpr int32_t kTypeInteger = 5;
constexpr int32_t kTypeParticle = 7;

// A block with room for n + 1 zero-filled elements and count = n, or null
// (also when the size does not fit in 32 bits).
ArrayBlock* AllocArray(int32_t elementSize, int32_t n);
// The same for n >= 2 dimensions; `table` holds the sizes and is rewritten
// into strides (entry k = product of the sizes after k; the last keeps its size).
ArrayBlock* AllocArrayN(int32_t elementSize, int32_t dimensions, int32_t* table);
// Frees the block of an array variable (its element-0 address); null is fine.
void FreeArray(void* element0);

inline void* ArrayElements(ArrayBlock* block) { return block ? static_cast<void*>(block + 1) : nullptr; }
inline ArrayBlock* ArrayBlockOf(void* element0) {
    return element0 ? static_cast<ArrayBlock*>(element0) - 1 : nullptr;
}
