// Runs console programs hidden and collects what they print.
#pragma once
#include "util/handles.h"

class TextBuf;

// Runs cmdLine (first token: the program) as a hidden child with standard output and
// standard error on a pipe, and waits until every writer of the pipe has ended. The child
// gets no standard input and inherits the pipe's write end only.
// Returns 1 when the child ran and its output was collected, 0 when the pipe, the process
// or the first wait failed (logged under logName). output is replaced only when the child
// wrote at least one byte; text after a NUL byte within one read is dropped.
int GetCmd(const char* cmdLine, TextBuf* output, const char* logName);

// Starts the program path with option (or none) as its arguments and the show state show,
// inheriting no handle. The process's handle, or none when it could not be started (logged
// in the setup log with the error).
UniqueHandle StartProgram(const char* path, const char* option, WORD show);
