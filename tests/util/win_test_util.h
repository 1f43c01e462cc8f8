// Helpers for the Win32 test programs: paths beside the test program, temporary folders,
// and reading the log files the program wrote.
#pragma once
#include <string>
#include <vector>

// A file in the folder of the running test program.
std::string SiblingPath(const std::string& name);
// A new empty folder under the temporary folder; tag makes its name readable.
std::string TempFolder(const std::string& tag);
// <system drive>:\OlvanLog
std::string LogFolder();
// Deletes every file of the log folder (the folder stays).
void ClearLogFolder();
// Today's file of a log base ("setup", "stp_Setup"...), in folder (default: LogFolder()).
std::string TodayLogPath(const std::string& base, const std::string& folder = "");
// Raw bytes of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The lines of today's log file of base, CR LF removed.
std::vector<std::string> ReadLogLines(const std::string& base, const std::string& folder = "");
// The same lines without their timestamp and thread field.
std::vector<std::string> ReadLogMessages(const std::string& base, const std::string& folder = "");
