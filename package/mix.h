// The package's byte scrambling. No operating system needed.
#pragma once
#include <stdint.h>

// Replaces every byte b of the buffer by (256 - b) mod 256, in place. The transform is its
// own inverse, so the same call mixes and un-mixes. Returns the number of bytes transformed.
// Uses SSE2 when the processor has it (chosen once, at the first call).
uint32_t MixBuffer(void* buffer, uint32_t length);

// Writes the mixed form of length bytes of src to dst in one pass. dst may be src itself
// (that is MixBuffer) but must not overlap it otherwise. Returns length.
uint32_t MixCopy(void* dst, const void* src, uint32_t length);

// The two ways of MixBuffer and MixCopy, for the tests: four bytes at a time (any processor)
// and sixteen at a time with SSE2. The SSE2 ones may be called only when MixHasSse2().
uint32_t MixCopyScalar(void* dst, const void* src, uint32_t length);
uint32_t MixCopySse2(void* dst, const void* src, uint32_t length);
bool MixHasSse2();
