// The package's byte scrambling. No operating system needed.
#pragma once
#include <stdint.h>

// Replaces every byte b of the buffer by (256 - b) mod 256, in place. The transform is its
// own inverse, so the same call mixes and un-mixes. Returns the number of bytes transformed.
uint32_t MixBuffer(void* buffer, uint32_t length);
