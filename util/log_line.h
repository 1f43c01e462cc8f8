// Names and line layout of the log files; no operating system needed.
#pragma once
#include <stddef.h>

struct LogTime {
  unsigned year, month, day;
  unsigned weekday;  // 0 Sunday .. 6 Saturday
  unsigned hour, minute, second;
};

// "<folder>\<base><yyyymmddww>.log"; the last two digits are the weekday, not the hour.
bool LogFilePath(char* dst, size_t size, const char* folder, const char* base, const LogTime& t);
// True when name is "<base>*<ww>.log" (ASCII letters in any case, * any run of bytes):
// a file of this base written on the same weekday, which the first line of a day removes.
bool LogCleanupMatches(const char* name, const char* base, unsigned weekday);
// "<base><yyyymmddww>.log", the name LogFilePath puts in the folder.
bool LogFileName(char* dst, size_t size, const char* base, const LogTime& t);

enum class LogThreadForm { Plain, Hex0x };  // "[%x] " or "[0x%x] "

// Composes one whole line: timestamp, optional "[DTL] ", thread field, message, CR LF.
// Returns the line's length in bytes (without a NUL). When out is null or too small
// nothing is written, so a caller can ask for the size first.
size_t LogComposeLine(char* out, size_t size, const LogTime& t, bool detailMark, LogThreadForm form,
                      unsigned long threadId, const char* message);
