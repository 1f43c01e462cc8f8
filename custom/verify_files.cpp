#include "custom/verify_files.h"

#include <windows.h>

#include <string.h>

#include "custom/custom_store.h"
#include "custom/verify_digest.h"
#include "package/file_size.h"
#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"

namespace {

// The content file's bytes, read whole before the digest. Static because the
// verification runs on the setup's one thread and must not depend on the stack or heap.
unsigned char g_verifyBuffer[kMaxVerifiedContent];

UniqueHandle OpenForRead(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return UniqueHandle(h);
}

// Reads exactly n bytes from offset; false on any shortfall.
bool ReadAt(HANDLE h, DWORD offset, void* out, DWORD n) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) return false;
  DWORD got = 0;
  return ReadFile(h, out, n, &got, nullptr) && got == n;
}

// Size of a file below 4 GiB; false when it is missing or larger.
bool SmallFileSize(const char* path, DWORD* size) {
  DWORD high = 0, low = 0;
  if (!utl_GetFileSize(path, &high, &low) || high != 0) return false;
  *size = low;
  return true;
}

// A name that stays inside the folder it is joined to: not empty, no separator or drive,
// not "." or "..".
bool IsBareFileName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
  return strpbrk(name, "\\/:") == nullptr;
}

// The icon pass: the fingerprint of iconName in folder, copied there from the system
// folder first when it is missing. fingerprint keeps the default when both attempts fail.
void IconPass(const char* folder, const char* iconName, unsigned char* fingerprint) {
  if (!IsBareFileName(iconName)) return;
  char iconPath[MAX_PATH];
  if (!StrJoinPath(iconPath, folder, iconName)) return;
  if (IconFingerprint(iconPath, fingerprint)) return;
  if (FileExists(iconPath)) return;
  char systemIcon[MAX_PATH];
  if (!GetBackupFolder(systemIcon) || !StrAppend(systemIcon, iconName)) return;
  // A failed copy leaves the default fingerprint; it is not reported.
  CopyFileA(systemIcon, iconPath, FALSE);
  IconFingerprint(iconPath, fingerprint);
}

int VerifyPair(const char* folder, const char* contentName, const char* vrfName, bool withIcon,
               const char* iconName) {
  char vrfPath[MAX_PATH], contentPath[MAX_PATH];
  if (!StrJoinPath(vrfPath, folder, vrfName) || !StrJoinPath(contentPath, folder, contentName))
    return 0;

  DWORD vrfSize = 0;
  if (!SmallFileSize(vrfPath, &vrfSize) || vrfSize != kVrfFileSize) return 0;
  unsigned char filler[kVrfFillerSize], stored[kVrfDigestSize];
  {
    UniqueHandle vrf = OpenForRead(vrfPath);
    if (!vrf.Valid() || !ReadAt(vrf.Get(), 0, filler, kVrfFillerSize) ||
        !ReadAt(vrf.Get(), kVrfDigestOffset, stored, kVrfDigestSize))
      return 0;
  }

  DWORD contentSize = 0;
  if (!SmallFileSize(contentPath, &contentSize) || contentSize > kMaxVerifiedContent) return 0;
  {
    UniqueHandle content = OpenForRead(contentPath);
    if (!content.Valid()) return 0;
    if (contentSize != 0 && !ReadAt(content.Get(), 0, g_verifyBuffer, contentSize)) return 0;
  }

  unsigned char fingerprint[kIconFingerprintSize];
  DefaultIconFingerprint(fingerprint);
  if (withIcon) IconPass(folder, iconName, fingerprint);

  unsigned char digest[kVrfDigestSize];
  if (!VerifyDigest(g_verifyBuffer, contentSize, filler, fingerprint, digest)) return 0;
  return DigestsEqual(digest, stored) ? 1 : 0;
}

}  // namespace

int IconFingerprint(const char* path, unsigned char* fingerprint) {
  DWORD size = 0;
  if (!SmallFileSize(path, &size) || size < kMinIconSize) return 0;
  unsigned char head[kMinIconSize];
  UniqueHandle icon = OpenForRead(path);
  if (!icon.Valid() || !ReadAt(icon.Get(), 0, head, sizeof head)) return 0;
  return IconFingerprintFromHead(head, size, fingerprint) ? 1 : 0;
}

int CusIniVerify(const char* folder) {
  return VerifyPair(folder, CUS_INI_FILE, CUS_INI_VRF_FILE, false, nullptr);
}

int CusXmlVerify(const char* folder, int withIcon, const char* iconName) {
  return VerifyPair(folder, CUS_XML_FILE, CUS_XML_VRF_FILE, withIcon != 0, iconName);
}

int UninstallIniVerify(const char* folder) {
  return VerifyPair(folder, UNINSTALL_INI_FILE, UNINSTALL_INI_VRF_FILE, false, nullptr);
}

int UninstallXmlVerify(const char* folder) {
  return VerifyPair(folder, UNINSTALL_XML_FILE, UNINSTALL_XML_VRF_FILE, false, nullptr);
}
