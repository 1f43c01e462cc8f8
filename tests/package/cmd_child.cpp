// Child program for the command-runner tests: prints what it is told and exits.
//   cmd_child print N     N bytes of numbered lines on standard output
//   cmd_child ok          "Everything is Ok" and exits at once
//   cmd_child stderr      one line on standard error
//   cmd_child nul         "ab", a NUL byte, "cd"
//   cmd_child silent      nothing
//   cmd_child sleep MS    nothing for MS milliseconds
//   cmd_child stdin       "stdin" when it has a standard input, else "none"
//   cmd_child has H       "has" when it holds the inheritable, signalled handle H (decimal)
//   cmd_child report F H  into the file F: whether it has a console and handle H (as "has"
//                         sees it), and the start-up information it was given
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>

static void Put(DWORD which, const std::string& s) {
  DWORD n = 0;
  WriteFile(GetStdHandle(which), s.data(), (DWORD)s.size(), &n, nullptr);
}

std::string NumberedText(size_t n);  // cmd_child_text.cpp

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string cmd = argv[1];
  if (cmd == "print" && argc == 3)
    Put(STD_OUTPUT_HANDLE, NumberedText(strtoul(argv[2], nullptr, 10)));
  else if (cmd == "ok")
    Put(STD_OUTPUT_HANDLE, "\r\nEverything is Ok\r\n");
  else if (cmd == "stderr")
    Put(STD_ERROR_HANDLE, "trouble\r\n");
  else if (cmd == "nul")
    Put(STD_OUTPUT_HANDLE, std::string("ab\0cd", 5));
  else if (cmd == "stdin") {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    Put(STD_OUTPUT_HANDLE, in != nullptr && in != INVALID_HANDLE_VALUE ? "stdin" : "none");
  } else if (cmd == "has" && argc == 3) {
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(strtoul(argv[2], nullptr, 10)));
    DWORD flags = 0;
    bool has = GetHandleInformation(h, &flags) && (flags & HANDLE_FLAG_INHERIT) &&
               WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    Put(STD_OUTPUT_HANDLE, has ? "has" : "none");
  } else if (cmd == "report" && argc == 4) {
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(strtoul(argv[3], nullptr, 10)));
    DWORD flags = 0;
    bool has = GetHandleInformation(h, &flags) && (flags & HANDLE_FLAG_INHERIT) &&
               WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    STARTUPINFOA si = {sizeof si};
    GetStartupInfoA(&si);
    char line[512];
    wsprintfA(line, "console %d has %d flags %lx show %u at %lu,%lu size %lu,%lu title %s",
              GetConsoleWindow() != nullptr, has, si.dwFlags, si.wShowWindow, si.dwX, si.dwY,
              si.dwXSize, si.dwYSize, si.lpTitle ? si.lpTitle : "-");
    HANDLE f = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(f, line, lstrlenA(line), &n, nullptr);
    CloseHandle(f);
  } else if (cmd == "silent") {
  } else if (cmd == "sleep" && argc == 3)
    Sleep(strtoul(argv[2], nullptr, 10));
  else
    return 2;
  return 0;
}
