// Passwords between the release engineer's UTF-8 and the bytes Windows gives a program in
// the client's ANSI code page (1252 on Western systems, 936 on Chinese ones): through the C
// library's iconv on Linux, through WideCharToMultiByte without best fit on Windows, with the
// same result for every character (only exact mappings count; where the tables differ,
// Windows' bytes are written).
#pragma once
#include <string>

// True when every byte is below 0x80 (the same bytes in every ANSI code page).
bool IsPlainAscii(const std::string& bytes);

// Converts UTF-8 text into the bytes of Windows code page codePage. False with *why set
// (a sentence naming the character or the problem) when the text is not valid UTF-8, holds
// a character the code page lacks, or the code page is unknown.
bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string* out, std::string* why);

// The reverse: code page bytes into UTF-8. False with *why set on bytes that are not text
// in that code page.
bool CodePageToUtf8(const std::string& bytes, int codePage, std::string* out, std::string* why);
