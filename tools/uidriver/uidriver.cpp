// Test driver: finds the setup's dialogs and message boxes, reads what they show as raw
// bytes (hex, so that code page 936 texts can be compared exactly) and presses their
// buttons, the way a user would. Also stands in for small helper processes of the tests.
//
// Texts are read as UTF-16 and reported in code page N with the global option --cp N
// (default: the driver's ANSI code page).
//
//   uidriver boxes                          every visible dialog-class window, one per line
//   uidriver wait [--not HWND,...] [--timeout MS] [--pid PID]
//                                           waits for a dialog-class window and prints it
//   uidriver text HWND ID                   hex bytes of control ID's text (0xFFFF: box text)
//   uidriver settext HWND ID HEX            WM_SETTEXT of hex bytes into control ID
//   uidriver type HWND ID HEX               types the bytes into control ID, one WM_CHAR each
//   uidriver click HWND ID                  posts BM_CLICK to control ID
//   uidriver close HWND                     posts WM_CLOSE
//   uidriver key HWND VK                    posts a key press (down and up) to the focus
//   uidriver gone HWND [--timeout MS]       waits until the window no longer exists
//   uidriver icon HWND                      prints "warning" when the box shows the warning icon
//   uidriver place HWND                     prints "TOPMOST VISIBLE L T R B" of the window and
//                                           "L T R B" of the desktop (TOPMOST, VISIBLE: 0 or 1)
//   uidriver running NAME                   exit code 0 when a process of that image name runs
//   uidriver keep-desktop                   holds a hidden window until ended, so that the
//                                           desktop process of the session stays up
//   uidriver sleep MS                       just runs for MS milliseconds (a process to find)
//   uidriver hold-event NAME MS             holds a named event for MS milliseconds
//   uidriver hold-mutex NAME MS             holds a named mutex for MS milliseconds
//   uidriver hold-file PATH ACCESS [SHARE]  holds the file open with ACCESS (hex), sharing
//                                           SHARE (hex; default everything), until its input
//                                           ends; PATH "utf8:HEX" is the path's UTF-8 bytes
//   uidriver hidden-station EXE MS          runs EXE on a desktop of a window station made for
//                                           it (as a service's: nobody sees it), waits up to MS;
//                                           prints the station's UOI_FLAGS and EXE's exit code
//
// A window line is: hwnd pid style caption-hex text-hex, where text is the box text
// (control 0xFFFF) or "-" when there is none. Exit code 0 on success, 1 on timeout or
// failure, 2 on bad usage.
#include <windows.h>

#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Code page in which texts are reported (--cp N); the setup's own ANSI code page by default.
UINT g_cp = CP_ACP;

// A window's text in g_cp, read as UTF-16 so that the driver's own code page does not matter.
void ReadText(HWND h, char* out, int size) {
  static wchar_t w[4096];
  out[0] = '\0';
  if (!h || !GetWindowTextW(h, w, 4096)) return;
  int n = WideCharToMultiByte(g_cp, 0, w, -1, out, size, nullptr, nullptr);
  if (n <= 0) out[0] = '\0';
}

void Hex(const char* s, char* out, size_t size) {
  size_t o = 0;
  if (*s == '\0') {
    snprintf(out, size, "-");
    return;
  }
  for (; *s && o + 3 < size; ++s) o += snprintf(out + o, size - o, "%02x", (unsigned char)*s);
}

bool Unhex(const char* h, char* out, size_t size) {
  size_t n = strlen(h);
  if (n % 2 || n / 2 >= size) return false;
  for (size_t i = 0; i < n / 2; ++i) {
    unsigned v;
    if (sscanf(h + 2 * i, "%2x", &v) != 1) return false;
    out[i] = (char)v;
  }
  out[n / 2] = '\0';
  return true;
}

HWND ParseHwnd(const char* s) { return (HWND)(UINT_PTR)strtoul(s, nullptr, 0); }

bool IsDialogClass(HWND h) {
  char cls[64];
  return GetClassNameA(h, cls, sizeof cls) && strcmp(cls, "#32770") == 0;
}

void PrintWindow(HWND h) {
  char caption[1024] = "", text[4096] = "";
  ReadText(h, caption, sizeof caption);
  ReadText(GetDlgItem(h, 0xFFFF), text, sizeof text);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  static char hc[2100], ht[8200];
  Hex(caption, hc, sizeof hc);
  Hex(text, ht, sizeof ht);
  printf("0x%lx %lu 0x%08lx %s %s\n", (unsigned long)(UINT_PTR)h, pid,
         (unsigned long)GetWindowLongA(h, GWL_STYLE), hc, ht);
  fflush(stdout);
}

struct Search {
  HWND found;
  char notList[2048];
  DWORD pid;
};

BOOL CALLBACK Enum(HWND h, LPARAM lp) {
  Search* s = (Search*)lp;
  if (!IsWindowVisible(h) || !IsDialogClass(h)) return TRUE;
  if (s->pid) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != s->pid) return TRUE;
  }
  char me[32];
  snprintf(me, sizeof me, "0x%lx", (unsigned long)(UINT_PTR)h);
  if (s->notList[0]) {
    // Comma-separated list of windows that do not count (seen before).
    const char* p = s->notList;
    size_t n = strlen(me);
    while (*p) {
      if (strncmp(p, me, n) == 0 && (p[n] == ',' || p[n] == '\0')) return TRUE;
      p = strchr(p, ',');
      if (!p) break;
      ++p;
    }
  }
  s->found = h;
  return FALSE;
}

BOOL CALLBACK EnumPrint(HWND h, LPARAM) {
  if (IsWindowVisible(h) && IsDialogClass(h)) PrintWindow(h);
  return TRUE;
}

// Icon handles belong to the process that loaded them, so the icon a box shows is compared
// by its picture: the control's pixels on screen against each standard icon drawn over the
// same background.
const int kIconPx = 32;

bool Pixels(HDC src, int x, int y, DWORD* out) {
  HDC mem = CreateCompatibleDC(src);
  BITMAPINFO bi;
  memset(&bi, 0, sizeof bi);
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = kIconPx;
  bi.bmiHeader.biHeight = -kIconPx;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  bool ok = BitBlt(mem, 0, 0, kIconPx, kIconPx, src, x, y, SRCCOPY) != 0;
  GdiFlush();
  if (ok) memcpy(out, bits, kIconPx * kIconPx * 4);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  return ok;
}

const char* IconKind(HWND control) {
  static DWORD shown[kIconPx * kIconPx], drawn[kIconPx * kIconPx];
  RECT r;
  if (!GetWindowRect(control, &r)) return "none";
  HDC screen = GetDC(nullptr);
  bool ok = Pixels(screen, r.left, r.top, shown);
  ReleaseDC(nullptr, screen);
  if (!ok) return "none";
  const struct {
    LPCSTR id;
    const char* name;
  } kinds[] = {{IDI_WARNING, "warning"},
               {IDI_ERROR, "error"},
               {IDI_INFORMATION, "information"},
               {IDI_QUESTION, "question"}};
  COLORREF bg = shown[0] & 0xFFFFFF;  // the corner of every standard icon is transparent
  for (const auto& k : kinds) {
    HDC dc = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, kIconPx, kIconPx);
    HGDIOBJ old = SelectObject(mem, bmp);
    RECT all = {0, 0, kIconPx, kIconPx};
    HBRUSH brush = CreateSolidBrush(RGB(GetBValue(bg), GetGValue(bg), GetRValue(bg)));
    FillRect(mem, &all, brush);
    DeleteObject(brush);
    DrawIconEx(mem, 0, 0, LoadIconA(nullptr, k.id), kIconPx, kIconPx, 0, nullptr, DI_NORMAL);
    Pixels(mem, 0, 0, drawn);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, dc);
    int differ = 0;
    for (int i = 0; i < kIconPx * kIconPx; ++i)
      differ += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
    if (getenv("UIDRIVER_DEBUG")) fprintf(stderr, "%s: %d pixels differ\n", k.name, differ);
    if (differ * 50 < kIconPx * kIconPx) return k.name;  // under 2% of the pixels
  }
  return "other";
}

int Usage() {
  fprintf(stderr,
          "usage: uidriver [--cp N] "
          "boxes|wait|text|settext|type|click|close|key|gone|icon|place|running|keep-desktop|sleep|hold-"
          "event|hold-file|hidden-station ... (see the comment at the top of uidriver.cpp)\n");
  return 2;
}

DWORD OptTimeout(int argc, char** argv, DWORD def) {
  for (int i = 0; i + 1 < argc; ++i)
    if (strcmp(argv[i], "--timeout") == 0) return strtoul(argv[i + 1], nullptr, 0);
  return def;
}

}  // namespace

int main(int argc, char** argv) {
  // Global option --cp N, removed before the command is looked at.
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], "--cp") == 0) {
      g_cp = strtoul(argv[i + 1], nullptr, 0);
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      break;
    }
  }
  if (argc < 2) return Usage();
  const char* cmd = argv[1];
  if (strcmp(cmd, "boxes") == 0) {
    EnumWindows(EnumPrint, 0);
    return 0;
  }
  if (strcmp(cmd, "wait") == 0) {
    Search s = {};
    for (int i = 2; i + 1 < argc; ++i) {
      if (strcmp(argv[i], "--not") == 0) snprintf(s.notList, sizeof s.notList, "%s", argv[i + 1]);
      if (strcmp(argv[i], "--pid") == 0) s.pid = strtoul(argv[i + 1], nullptr, 0);
    }
    DWORD timeout = OptTimeout(argc, argv, 20000), start = GetTickCount();
    do {
      s.found = nullptr;
      EnumWindows(Enum, (LPARAM)&s);
      if (s.found) {
        // Let the window finish painting its controls before reading them.
        Sleep(200);
        PrintWindow(s.found);
        return 0;
      }
      Sleep(50);
    } while (GetTickCount() - start < timeout);
    fprintf(stderr, "uidriver: no dialog within %lu ms\n", timeout);
    return 1;
  }
  if (strcmp(cmd, "text") == 0 && argc == 4) {
    char text[4096] = "", hex[8200];
    HWND item = GetDlgItem(ParseHwnd(argv[2]), strtoul(argv[3], nullptr, 0));
    if (!item) return 1;
    ReadText(item, text, sizeof text);
    Hex(text, hex, sizeof hex);
    printf("%s\n", hex);
    return 0;
  }
  if (strcmp(cmd, "settext") == 0 && argc == 5) {
    char text[4096];
    if (!Unhex(strcmp(argv[4], "-") == 0 ? "" : argv[4], text, sizeof text)) return Usage();
    HWND item = GetDlgItem(ParseHwnd(argv[2]), strtoul(argv[3], nullptr, 0));
    if (!item) return 1;
    static wchar_t w[4096];
    if (!MultiByteToWideChar(g_cp, 0, text, -1, w, 4096)) return 1;
    SendMessageW(item, WM_SETTEXT, 0, (LPARAM)w);
    return 0;
  }
  if (strcmp(cmd, "type") == 0 && argc == 5) {
    char text[4096];
    if (!Unhex(argv[4], text, sizeof text)) return Usage();
    HWND item = GetDlgItem(ParseHwnd(argv[2]), strtoul(argv[3], nullptr, 0));
    if (!item) return 1;
    static wchar_t w[4096];
    int n = MultiByteToWideChar(g_cp, 0, text, -1, w, 4096);
    // Sent one by one, as keyboard input arrives; the control applies its own limits.
    for (int i = 0; i + 1 < n; ++i) SendMessageW(item, WM_CHAR, w[i], 1);
    return 0;
  }
  if (strcmp(cmd, "click") == 0 && argc == 4) {
    HWND item = GetDlgItem(ParseHwnd(argv[2]), strtoul(argv[3], nullptr, 0));
    if (!item) return 1;
    // Posted: a click that opens a modal box would otherwise block the driver.
    return PostMessageA(item, BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (strcmp(cmd, "close") == 0 && argc == 3)
    return PostMessageA(ParseHwnd(argv[2]), WM_CLOSE, 0, 0) ? 0 : 1;
  if (strcmp(cmd, "key") == 0 && argc == 4) {
    HWND h = ParseHwnd(argv[2]);
    WPARAM vk = strtoul(argv[3], nullptr, 0);
    HWND target = h;
    GUITHREADINFO gi;
    memset(&gi, 0, sizeof gi);
    gi.cbSize = sizeof gi;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gi) && gi.hwndFocus)
      target = gi.hwndFocus;
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
    return 0;
  }
  if (strcmp(cmd, "gone") == 0 && argc >= 3) {
    HWND h = ParseHwnd(argv[2]);
    DWORD timeout = OptTimeout(argc, argv, 20000), start = GetTickCount();
    while (IsWindow(h)) {
      if (GetTickCount() - start >= timeout) return 1;
      Sleep(50);
    }
    return 0;
  }
  if (strcmp(cmd, "icon") == 0 && argc == 3) {
    // A message box shows its icon in a static control (stc1).
    HWND item = GetDlgItem(ParseHwnd(argv[2]), 0x440);
    printf("%s\n", item ? IconKind(item) : "none");
    return 0;
  }
  if (strcmp(cmd, "place") == 0 && argc == 3) {
    HWND h = ParseHwnd(argv[2]);
    RECT w, d;
    if (!GetWindowRect(h, &w) || !GetWindowRect(GetDesktopWindow(), &d)) return 1;
    printf("%d %d %ld %ld %ld %ld %ld %ld %ld %ld\n",
           (GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, IsWindowVisible(h) != 0, w.left,
           w.top, w.right, w.bottom, d.left, d.top, d.right, d.bottom);
    return 0;
  }
  if (strcmp(cmd, "running") == 0 && argc == 3) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof pe;
    bool found = false;
    for (BOOL ok = Process32First(snap, &pe); ok && !found; ok = Process32Next(snap, &pe))
      found = lstrcmpiA(pe.szExeFile, argv[2]) == 0;
    CloseHandle(snap);
    return found ? 0 : 1;
  }
  if (strcmp(cmd, "keep-desktop") == 0) {
    HWND h = CreateWindowExA(0, "STATIC", "desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    if (!h) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
  }
  if (strcmp(cmd, "sleep") == 0 && argc == 3) {
    Sleep(strtoul(argv[2], nullptr, 0));
    return 0;
  }
  if ((strcmp(cmd, "hold-event") == 0 || strcmp(cmd, "hold-mutex") == 0) && argc == 4) {
    HANDLE e = strcmp(cmd, "hold-event") == 0 ? CreateEventA(nullptr, FALSE, FALSE, argv[2])
                                              : CreateMutexA(nullptr, FALSE, argv[2]);
    if (!e) return 1;
    printf("held\n");
    fflush(stdout);
    Sleep(strtoul(argv[3], nullptr, 0));
    CloseHandle(e);
    return 0;
  }
  if (strcmp(cmd, "hold-file") == 0 && (argc == 4 || argc == 5)) {
    DWORD share = argc == 5 ? strtoul(argv[4], nullptr, 16)
                            : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    char utf8[1024];
    WCHAR wide[1024];
    if (strncmp(argv[2], "utf8:", 5) == 0 &&
        (!Unhex(argv[2] + 5, utf8, sizeof utf8) ||
         !MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 1024)))
      return Usage();
    HANDLE f = strncmp(argv[2], "utf8:", 5) == 0
                   ? CreateFileW(wide, strtoul(argv[3], nullptr, 16), share, nullptr,
                                 OPEN_EXISTING, 0, nullptr)
                   : CreateFileA(argv[2], strtoul(argv[3], nullptr, 16), share, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    printf("held\n");
    fflush(stdout);
    while (getchar() != EOF) {
    }
    CloseHandle(f);
    return 0;
  }
  if (strcmp(cmd, "hidden-station") == 0 && argc == 4) {
    HWINSTA station = CreateWindowStationA("olvan_hidden", 0, WINSTA_ALL_ACCESS, nullptr);
    HWINSTA own = GetProcessWindowStation();
    if (!station || !SetProcessWindowStation(station)) return 1;
    HDESK desk = CreateDesktopA("olvan_desk", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    USEROBJECTFLAGS flags = {};
    GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr);
    if (!desk) return 1;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.lpDesktop = const_cast<char*>("olvan_hidden\\olvan_desk");
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(argv[2], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return 1;
    DWORD code = 0;
    bool ended = WaitForSingleObject(pi.hProcess, strtoul(argv[3], nullptr, 0)) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(pi.hProcess, 1);
    GetExitCodeProcess(pi.hProcess, &code);
    printf("flags %lu exit %lu\n", flags.dwFlags, ended ? code : 0xFFFFFFFFul);
    return ended ? 0 : 1;
  }
  return Usage();
}
