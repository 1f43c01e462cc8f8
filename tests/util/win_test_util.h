// Helpers for the Win32 test programs: paths beside the test program and reading the log
// files the program wrote. Temporary folders and file reads and writes are in tests/support.
#pragma once
#include <string>
#include <vector>

#include "tests/support/test_support.h"

// A file in the folder of the running test program.
std::string SiblingPath(const std::string& name);
// <system drive>:\OlvanLog
std::string LogFolder();
// Deletes every file of the log folder (the folder stays).
void ClearLogFolder();
// Today's file of a log base ("setup", "stp_Setup"...), in folder (default: LogFolder()).
std::string TodayLogPath(const std::string& base, const std::string& folder = "");
// The lines of today's log file of base, CR LF removed.
std::vector<std::string> ReadLogLines(const std::string& base, const std::string& folder = "");
// The same lines without their timestamp and thread field.
std::vector<std::string> ReadLogMessages(const std::string& base, const std::string& folder = "");
