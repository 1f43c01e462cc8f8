#include "setup/installer_wait.h"

#include <tlhelp32.h>

#include "package/proc_check.h"
#include "setup/installer_outcome.h"
#include "util/log.h"

const char kInstallerExe[] = "OlvanSetup.exe";

namespace {

const DWORD kStartPollMs = 50;
const unsigned kStartPolls = 600;
const DWORD kEndPollMs = 500;
// As many processes as one wait could take. Their handles, synchronize and query access
// only, keep their IDs from being reused while the setup runs.
const size_t kMaxFollowed = MAXIMUM_WAIT_OBJECTS;
const DWORD kFollowAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

// The installer the setup started (first) and the processes of its name that descend from
// it; a null handle: seen, but it could not be followed.
struct Followed {
  HANDLE h;
  DWORD pid;
  ULONGLONG created;
};
struct Following {
  Followed p[kMaxFollowed];
  FollowedEnd ends[kMaxFollowed];
  size_t count;

  const Followed* Find(DWORD pid) const {
    for (size_t i = 0; i < count; ++i)
      if (p[i].pid == pid) return &p[i];
    return nullptr;
  }
};

// Creation and exit time of process h, as FILETIME counts (100 ns since 1601); false when
// they cannot be read.
bool Times(HANDLE h, ULONGLONG* created, ULONGLONG* exited) {
  FILETIME k, u;
  return GetProcessTimes(h, reinterpret_cast<FILETIME*>(created), reinterpret_cast<FILETIME*>(exited),
                         &k, &u) != FALSE;
}

// Follows every process of the installer's name whose parent is followed. The parent's ID
// is proven by its held handle; the process opened by the ID the list showed is that one
// only when it was made after its parent and before the list was taken. A process that
// cannot be followed is named once.
void Follow(Following* f) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ULONGLONG now;
  GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&now));
  PROCESSENTRY32 pe;
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32First(snap, &pe); ok && f->count < kMaxFollowed;
       ok = Process32Next(snap, &pe)) {
    const Followed* parent = f->Find(pe.th32ParentProcessID);
    if (lstrcmpiA(pe.szExeFile, kInstallerExe) != 0 || parent == nullptr ||
        parent->h == nullptr || f->Find(pe.th32ProcessID) != nullptr)
      continue;
    Followed& c = f->p[f->count++];
    c.pid = pe.th32ProcessID;
    c.h = OpenProcess(kFollowAccess, FALSE, c.pid);
    ULONGLONG exited;
    if (c.h != nullptr && Times(c.h, &c.created, &exited) && c.created >= parent->created &&
        c.created <= now)
      continue;
    SetupLogF("%s process %lu: its outcome is not known, error %lu.", kInstallerExe, c.pid,
              GetLastError());
    CloseHandle(c.h);
    c.h = nullptr;
  }
  CloseHandle(snap);
}

bool InstallerRuns() { return chkProcExist("waitSetup", kInstallerExe) == 0; }

}  // namespace

void WaitForInstaller(HANDLE process, InstallerEnd* installer) {
  unsigned started = 0;
  while (started < kStartPolls && !InstallerRuns()) {
    Sleep(kStartPollMs);
    ++started;
  }
  SetupLogF("is-stp started at %u", started);
  // No limit: the installer may take as long as the installation does. Any process of its
  // name stretches the wait; only the followed ones decide the outcome. A process list that
  // cannot be read counts as ended.
  ULONGLONG exited;
  Following f;
  f.p[0].h = process;
  f.p[0].pid = GetProcessId(process);
  Times(process, &f.p[0].created, &exited);
  f.count = process != nullptr ? 1 : 0;
  unsigned ended = 0;
  for (;;) {
    Follow(&f);
    if (!InstallerRuns()) break;
    Sleep(kEndPollMs);
    ++ended;
  }
  SetupLogF("is-stp ended at %u.", ended);
  if (f.count == 0) return;
  // The waits by name may end before the processes followed do (a process list that cannot
  // be read): their own handles tell when they have ended.
  for (size_t i = 0; i < f.count; ++i) {
    HANDLE h = f.p[i].h;
    DWORD code = 0;
    ULONGLONG created;
    f.ends[i].known = h != nullptr && WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0 &&
                      GetExitCodeProcess(h, &code) && Times(h, &created, &f.ends[i].exitTime);
    f.ends[i].exitCode = code;
    if (i != 0) CloseHandle(h);
  }
  size_t d = DecidingProcess(f.ends, f.count);
  DWORD code = f.ends[d].exitCode;
  SetupLogF("%s ended with exit code %lu (0x%08lX) in process %lu, %s.", kInstallerExe, code, code,
            f.p[d].pid, d == 0 ? "the one the setup started" : "a copy the installer started");
  installer->exitCode = code;
}
