// What the release tools need from the system, the same on Linux and Windows: arguments and
// paths in UTF-8 (Windows gives wide strings; its narrow calls would use the ANSI code page,
// which cannot name every file), files opened by such paths, and seeks past 2 GiB.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

// The path that UTF-8 text names; either separator works on Windows.
std::filesystem::path PathOf(const std::string& utf8);

// The UTF-8 text of a path.
std::string Utf8Of(const std::filesystem::path& path);

// The path of a package entry in folder dirUtf8. The entry's name is in the bytes of code
// page 1252 (how the tools judge names): on Windows those characters are kept, elsewhere the
// bytes become the file name as they are.
std::string EntryPath(const std::string& dirUtf8, const char* name);

// fopen of a UTF-8 path (_wfopen on Windows). Null on failure, errno set.
FILE* OpenFile(const std::string& utf8Path, const char* mode);

// Sets the position of f to offset bytes from the start. False on failure.
bool SeekTo(FILE* f, uint64_t offset);

#ifdef _WIN32
// The wide command line's arguments as UTF-8, then main(argc, argv) over them: the tools'
// wmain. An argument that is not valid UTF-16 gives U+FFFD in its place.
int RunMainWithUtf8Args(int argc, wchar_t** wargv, int (*main)(int, char**));

// UTF-8 and UTF-16 each way; invalid sequences give U+FFFD.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
#endif
