// Stand-in for the programs the package brings, built once per name: the agent
// (wexApxSvr.exe) and the installer (OlvanSetup.exe) record how they were called, stay a
// while so that the setup's process polls see them, and exit; built as 7za.exe it prints
// an output without the archiver's success line, and what its start-up block held of the C
// runtime's table of inherited files (lpReserved2, cbReserved2).
//   OLVAN_STANDIN_LOG  file that receives one line per event (default C:\standin_calls.txt)
//   OLVAN_STANDIN_MS   how long to stay, in ms (default: STANDIN_DEFAULT_MS)
//   OLVAN_STANDIN_EXIT the exit code (default 0; 0x... for hexadecimal), given to ExitProcess
//   OLVAN_STANDIN_HANDOVER  an exit code: the installer starts a copy of itself that ends
//                      with it (and otherwise behaves as this one), records "handover"
//                      and ends at once with 0
// The agent and the installer also write how they were started, one line per start, to
// C:\standin_starts.txt: "<name>|<command line>|<show state or ->|<current folder>".
// A file standin.tag beside the program marks its calls as "<name>@<tag>": the copies an
// attacker plants are told apart from the package's own.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

void Append(const char* path, const char* line, int n) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(h, line, static_cast<DWORD>(n), &written, nullptr);
      CloseHandle(h);
      return;
    }
    Sleep(10);
  }
}

void Record(const char* self, const char* what) {
  char path[MAX_PATH] = "C:\\standin_calls.txt";
  GetEnvironmentVariableA("OLVAN_STANDIN_LOG", path, sizeof path);
  char line[1024];
  int n = _snprintf(line, sizeof line, "%s|%s\r\n", self, what);
  if (n > 0) Append(path, line, n);
}

void RecordStart(const char* self) {
  STARTUPINFOA si;
  GetStartupInfoA(&si);
  char show[16] = "-";
  if (si.dwFlags & STARTF_USESHOWWINDOW) _snprintf(show, sizeof show, "%u", si.wShowWindow);
  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, cwd);
  char line[2048];
  int n = _snprintf(line, sizeof line, "%s|%s|%s|%s\r\n", self, GetCommandLineA(), show, cwd);
  if (n > 0) Append("C:\\standin_starts.txt", line, n);
}

// The command line without the program's own name.
const char* Arguments() {
  const char* p = GetCommandLineA();
  if (*p == '"') {
    p = strchr(p + 1, '"');
    p = p ? p + 1 : "";
  } else {
    while (*p && *p != ' ') ++p;
  }
  while (*p == ' ') ++p;
  return p;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char module[MAX_PATH];
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  char* slash = strrchr(module, '\\');
  const char* base = slash ? slash + 1 : module;
  char self[MAX_PATH + 64];
  lstrcpynA(self, base, MAX_PATH);
  if (slash != nullptr) {
    char tagPath[MAX_PATH + 16];
    _snprintf(tagPath, sizeof tagPath, "%.*s\\standin.tag", static_cast<int>(slash - module),
              module);
    HANDLE h =
        CreateFileA(tagPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      char tag[32] = "";
      DWORD n = 0;
      ReadFile(h, tag, sizeof tag - 1, &n, nullptr);
      CloseHandle(h);
      tag[n] = '\0';
      lstrcatA(self, "@");
      lstrcatA(self, tag);
    }
  }
  if (lstrcmpiA(base, "7za.exe") == 0) {
    STARTUPINFOA si;
    GetStartupInfoA(&si);
    char out[160];
    int n = _snprintf(out, sizeof out,
                      "7-Zip stand-in: nothing was extracted\r\n"
                      "7-Zip stand-in received: cbReserved2 %u, lpReserved2 %s.\r\n",
                      si.cbReserved2, si.lpReserved2 != nullptr ? "set" : "none");
    DWORD written = 0;
    if (n > 0)
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out, static_cast<DWORD>(n), &written, nullptr);
    Record(self, Arguments());
    return 2;
  }
  RecordStart(self);
  Record(self, Arguments());
  char handover[32] = "";
  if (lstrcmpiA(base, "OlvanSetup.exe") == 0 &&
      GetEnvironmentVariableA("OLVAN_STANDIN_HANDOVER", handover, sizeof handover) > 0) {
    SetEnvironmentVariableA("OLVAN_STANDIN_EXIT", handover);
    SetEnvironmentVariableA("OLVAN_STANDIN_HANDOVER", nullptr);
    char cmd[MAX_PATH + 2];
    _snprintf(cmd, sizeof cmd, "\"%s\"", module);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    Record(self, "handover");  // before the copy records its own start
    if (!CreateProcessA(module, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      ExitProcess(1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ExitProcess(0);
  }
  char ms[32] = "";
  DWORD stay = STANDIN_DEFAULT_MS;
  if (GetEnvironmentVariableA("OLVAN_STANDIN_MS", ms, sizeof ms) > 0)
    stay = strtoul(ms, nullptr, 10);
  Sleep(stay);
  Record(self, "end");
  char code[32] = "";
  GetEnvironmentVariableA("OLVAN_STANDIN_EXIT", code, sizeof code);
  ExitProcess(strtoul(code, nullptr, 0));
}
