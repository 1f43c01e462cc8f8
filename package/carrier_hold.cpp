#include "package/carrier_hold.h"

#include <string.h>
#include <wchar.h>

#include "util/file_open.h"
#include "util/handles.h"
#include "util/links.h"
#include "util/system_info.h"

namespace {

enum class HoldState { kNone, kHeld, kFailed };

// The program's own file and, in the MSI route, the MSI copy: both stay open until the
// process ends.
const int kMaxHolds = 2;
UniqueHandle g_holds[kMaxHolds];
int g_holdCount = 0;
HoldState g_state = HoldState::kNone;
FileIdentity g_carrierId;
// The path whose hold failed last, for one more try; empty when there is none.
wchar_t g_failedPath[MAX_PATH];

}  // namespace

bool utl_HoldCarrier(const wchar_t* path) {
  g_state = HoldState::kFailed;
  g_failedPath[0] = L'\0';
  if (path == nullptr || g_holdCount >= kMaxHolds) return false;
  UniqueHandle h(utl_OpenFileForReadW(path));
  if (!h.Valid() || !IdentityOf(h.Get(), &g_carrierId)) {
    size_t len = wcslen(path);
    if (len < MAX_PATH) memcpy(g_failedPath, path, (len + 1) * sizeof(wchar_t));
    return false;
  }
  g_holds[g_holdCount++] = static_cast<UniqueHandle&&>(h);
  g_state = HoldState::kHeld;
  return true;
}

bool utl_HoldOwnFile() {
  wchar_t self[MAX_PATH];
  if (!GetOwnFilePath(self)) {
    g_state = HoldState::kFailed;
    return false;
  }
  return utl_HoldCarrier(self);
}

bool utl_HoldCarrierAgain() {
  if (g_state != HoldState::kFailed || g_failedPath[0] == L'\0') return g_state == HoldState::kHeld;
  wchar_t path[MAX_PATH];
  memcpy(path, g_failedPath, sizeof path);
  return utl_HoldCarrier(path);
}

void utl_ReleaseLastHold() {
  if (g_state == HoldState::kHeld) g_holds[--g_holdCount].Reset();
  g_state = HoldState::kFailed;
  g_failedPath[0] = L'\0';
}

bool utl_IsHeldCarrier(HANDLE file) {
  if (g_state == HoldState::kNone) return true;
  FileIdentity id;
  return g_state == HoldState::kHeld && IdentityOf(file, &id) && SameIdentity(id, g_carrierId);
}

HANDLE utl_OwnFileHold() { return g_holds[0].Get(); }
