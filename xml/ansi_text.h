// Conversion of the UTF-8 text inside the customization XML files into the program's narrow
// text: the system's ANSI code page on Windows; unchanged on other systems, whose narrow
// text is UTF-8 already.
#pragma once
#include <stddef.h>

#include "util/text_buf.h"

// Converts n bytes of UTF-8 into out. Invalid sequences and characters the code page
// lacks come out as the code page's default character. False, out empty, when the
// conversion or memory fails.
bool Utf8ToAnsi(const char* utf8, size_t n, TextBuf& out);
