// Wiping secrets from memory. No operating system needed.
#pragma once
#include <stddef.h>

// Overwrites n bytes at p with zeros in a way the compiler does not drop (through a
// volatile pointer, so the stores stay even right before the memory is freed or left), for
// plain passwords and stored passwords that are no longer needed.
void WipeBytes(void* p, size_t n);
