// Helpers for the Win32 test programs: paths beside the test program and reading the log
// files the program wrote. Temporary folders and file reads and writes are in tests/support.
#pragma once
#include <windows.h>

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

// The symbol of one slot of this program's import table: "__imp__Name@N" for a 32-bit
// program (N the bytes of the stdcall arguments), "__imp_Name" for a 64-bit one.
#ifdef _WIN64
#define OLVAN_IMPORT_SLOT(name, argBytes) "__imp_" #name
#else
#define OLVAN_IMPORT_SLOT(name, argBytes) "__imp__" #name "@" #argBytes
#endif

// Puts with into one slot of this program's import table (a function the code under test
// calls, named by OLVAN_IMPORT_SLOT) for the life of the object, for a behaviour of Windows
// that Wine cannot show; Real() is the function the slot held.
template <typename Fn>
class ImportSwap {
 public:
  ImportSwap(Fn* slot, Fn with) : slot_(slot), real_(*slot) { Put(with); }
  ~ImportSwap() { Put(real_); }
  ImportSwap(const ImportSwap&) = delete;
  ImportSwap& operator=(const ImportSwap&) = delete;
  Fn Real() const { return real_; }

 private:
  void Put(Fn f) {
    DWORD was;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &was);
    *slot_ = f;
    VirtualProtect(slot_, sizeof *slot_, was, &was);
  }
  Fn* slot_;
  Fn real_;
};
