#include "tools/toolport/run_program.h"

#include <windows.h>

#include "tools/toolport/tool_io.h"

namespace {

// One argument as the C runtime's command-line parser reads it back: quoted when it holds a
// blank or a quote or is empty; backslashes doubled only before a quote.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    *line += arg;
    return;
  }
  *line += L'"';
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') slashes = slashes * 2 + 1;
    line->append(slashes, L'\\');
    slashes = 0;
    *line += c;
  }
  line->append(slashes * 2, L'\\');
  *line += L'"';
}

struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

}  // namespace

std::string ResolveProgram(const std::string& name) {
  if (name.find_first_of("/\\:") != std::string::npos) return name;
  DWORD n = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (n == 0) return std::string();
  std::wstring path(n, L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", &path[0], n));
  std::wstring file = Widen(name) + L".exe";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring dir = path.substr(start, end - start);
    start = end + 1;
    if (dir.size() >= 2 && dir.front() == L'"' && dir.back() == L'"')
      dir = dir.substr(1, dir.size() - 2);
    if (dir.empty()) continue;
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    DWORD attr = GetFileAttributesW((dir + file).c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY))
      return Narrow(dir + file);
  }
  return std::string();
}

int RunProgram(const std::vector<std::string>& args, std::string* output) {
  output->clear();
  if (args.empty()) return -1;
  std::wstring line;
  for (const std::string& a : args) {
    if (!line.empty()) line += L' ';
    AppendQuoted(&line, Widen(a));
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  Handle readEnd, writeEnd, nul;
  if (!CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0)) return -1;
  SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);
  nul.h = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                      OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul.h;
  si.hStdOutput = writeEnd.h;
  si.hStdError = writeEnd.h;
  PROCESS_INFORMATION pi = {};
  std::wstring program = Widen(args[0]);
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return -1;
  Handle process, thread;
  process.h = pi.hProcess;
  thread.h = pi.hThread;
  // Only the child holds the write end now: reading ends when it exits.
  CloseHandle(writeEnd.h);
  writeEnd.h = nullptr;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(readEnd.h, buf, sizeof buf, &got, nullptr) && got > 0) output->append(buf, got);
  WaitForSingleObject(process.h, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.h, &code)) return -1;
  return static_cast<int>(code & 0x7fffffff);
}
