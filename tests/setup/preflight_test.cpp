// The start-up decisions on plain data: free space and group membership; and the DLL search
// the program restricts itself to before anything else runs.
#include "setup/preflight.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/hardening.h"
#include "setup/messages.h"
#include "tests/util/win_test_util.h"

using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
extern "C" GetProcAddressFn g_getProcAddressImport asm(OLVAN_IMPORT_SLOT(GetProcAddress, 8));

namespace {

TEST(DiskSpace, ThreeHundredMegabytesIsTheLine) {
  EXPECT_TRUE(DiskSpaceAllows(314572800LL));   // exactly 300 MB
  EXPECT_FALSE(DiskSpaceAllows(314572799LL));  // 299 MB and change
  EXPECT_TRUE(DiskSpaceAllows(-1));            // unknown: the setup goes on
  EXPECT_FALSE(DiskSpaceAllows(0));
  EXPECT_TRUE(DiskSpaceAllows(20LL * 1024 * 1024 * 1024));
}

TEST(DiskSpace, MegabytesTruncateTowardZero) {
  EXPECT_EQ(FreeBytesToMb(1048575), 0);
  EXPECT_EQ(FreeBytesToMb(1048576), 1);
  EXPECT_EQ(FreeBytesToMb(21474836480LL), 20480);
  EXPECT_EQ(FreeBytesToMb(-1), 0);
}

TEST(DiskSpace, RealVolumeAndMissingVolume) {
  EXPECT_GT(GetDiskFreeBytes("C:"), 0);
  EXPECT_EQ(GetDiskFreeBytes("Q:\\no\\such\\volume"), -1);
}

// A group list built by hand, as GetTokenInformation(TokenGroups) lays it out.
class Groups {
 public:
  void Add(DWORD sub0, DWORD sub1, DWORD attributes) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, sub0, sub1, 0, 0, 0, 0, 0, 0, &sid));
    sids_.push_back(sid);
    attrs_.push_back(attributes);
  }
  ~Groups() {
    for (PSID s : sids_) FreeSid(s);
  }
  const TOKEN_GROUPS* Get() {
    buf_.assign(sizeof(TOKEN_GROUPS) + sids_.size() * sizeof(SID_AND_ATTRIBUTES), 0);
    TOKEN_GROUPS* g = reinterpret_cast<TOKEN_GROUPS*>(buf_.data());
    g->GroupCount = static_cast<DWORD>(sids_.size());
    for (size_t i = 0; i < sids_.size(); ++i) {
      g->Groups[i].Sid = sids_[i];
      g->Groups[i].Attributes = attrs_[i];
    }
    return g;
  }

 private:
  std::vector<PSID> sids_;
  std::vector<DWORD> attrs_;
  std::vector<unsigned char> buf_;
};

TEST(Administrators, MembershipCountsWhateverTheAttributes) {
  for (DWORD attrs : {DWORD(SE_GROUP_ENABLED | SE_GROUP_MANDATORY),
                      DWORD(SE_GROUP_USE_FOR_DENY_ONLY), DWORD(0)}) {
    Groups g;
    g.Add(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, SE_GROUP_ENABLED);
    g.Add(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, attrs);
    EXPECT_TRUE(GroupsHoldAdministrators(g.Get())) << attrs;
  }
}

TEST(Administrators, OtherGroupsDoNotCount) {
  Groups g;
  g.Add(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, SE_GROUP_ENABLED);
  g.Add(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_POWER_USERS, SE_GROUP_ENABLED);
  g.Add(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_GUESTS, SE_GROUP_ENABLED);
  EXPECT_FALSE(GroupsHoldAdministrators(g.Get()));
  Groups empty;
  EXPECT_FALSE(GroupsHoldAdministrators(empty.Get()));
  EXPECT_FALSE(GroupsHoldAdministrators(nullptr));
}

// The DLL search: System32 alone (LOAD_LIBRARY_SEARCH_SYSTEM32, 0x800), never the
// program's own folder (0x200) nor the default set that includes it (0x1000), and the
// current folder taken out for systems without that call. The process's search cannot be
// set back, and Wine loads what the test needs either way: GetProcAddress, swapped in this
// program's import table, hands out recorders in place of the two calls.
DWORD g_searchFlags = 0;
int g_setDefaultCalls = 0;
std::string g_dllDirectory = "(not called)";
GetProcAddressFn g_realGetProcAddress;

BOOL WINAPI RecordSetDefaultDllDirectories(DWORD flags) {
  g_searchFlags = flags;
  ++g_setDefaultCalls;
  return TRUE;
}
BOOL WINAPI RecordSetDllDirectoryA(LPCSTR path) {
  g_dllDirectory = path != nullptr ? path : "(null)";
  return TRUE;
}
// A volume with a quota: the caller may use less than the volume has free.
const ULONGLONG kCallersBytes = 400ull << 20, kVolumesFreeBytes = 900ull << 20;
BOOL WINAPI QuotaGetDiskFreeSpaceExA(LPCSTR, PULARGE_INTEGER avail, PULARGE_INTEGER total,
                                     PULARGE_INTEGER free) {
  avail->QuadPart = kCallersBytes;
  total->QuadPart = 1ull << 40;
  free->QuadPart = kVolumesFreeBytes;
  return TRUE;
}

// A system without the extended call: the free clusters are counted, through a volume larger
// than 4 GB, so that the product must be taken in 64 bits.
bool g_withoutExtendedFreeSpace = false;
BOOL WINAPI LargeVolumeGetDiskFreeSpaceA(LPCSTR, LPDWORD spc, LPDWORD bps, LPDWORD freeClusters,
                                         LPDWORD clusters) {
  *spc = 8;
  *bps = 512;
  *freeClusters = 3000000;  // 12,288,000,000 bytes
  *clusters = 9000000;
  return TRUE;
}
using GetDiskFreeSpaceAFn = BOOL(WINAPI*)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
extern "C" GetDiskFreeSpaceAFn g_getDiskFreeSpaceImport asm(
    OLVAN_IMPORT_SLOT(GetDiskFreeSpaceA, 20));

FARPROC WINAPI RecordingGetProcAddress(HMODULE module, LPCSTR name) {
  if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF) {
    if (lstrcmpA(name, "GetDiskFreeSpaceExA") == 0)
      return g_withoutExtendedFreeSpace ? nullptr
                                        : reinterpret_cast<FARPROC>(QuotaGetDiskFreeSpaceExA);
    if (lstrcmpA(name, "SetDefaultDllDirectories") == 0)
      return reinterpret_cast<FARPROC>(RecordSetDefaultDllDirectories);
    if (lstrcmpA(name, "SetDllDirectoryA") == 0)
      return reinterpret_cast<FARPROC>(RecordSetDllDirectoryA);
  }
  return g_realGetProcAddress(module, name);
}

// The check on the process's own token, which opens it to query and nothing more (Wine
// grants any access asked of one's own token). Wine's user belongs to Administrators.
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
extern "C" OpenProcessTokenFn g_openProcessTokenImport asm(OLVAN_IMPORT_SLOT(OpenProcessToken, 12));
OpenProcessTokenFn g_realOpenProcessToken;
std::vector<DWORD> g_tokenAccess;
BOOL WINAPI RecordOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  g_tokenAccess.push_back(access);
  return g_realOpenProcessToken(process, access, token);
}

TEST(Administrators, OwnTokenIsOpenedToQueryOnly) {
  g_tokenAccess.clear();
  {
    ImportSwap<OpenProcessTokenFn> swap(&g_openProcessTokenImport, RecordOpenProcessToken);
    g_realOpenProcessToken = swap.Real();
    EXPECT_TRUE(IsCurUserAdmin());
  }
  EXPECT_EQ(g_tokenAccess, std::vector<DWORD>{TOKEN_QUERY});
}

// A token that cannot be opened, or whose groups cannot be read, makes no administrator, and
// the check's own log says which step failed.
BOOL WINAPI TokenRefused(HANDLE, DWORD, PHANDLE) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD,
                                            PDWORD);
extern "C" GetTokenInformationFn g_getTokenInformationImport asm(
    OLVAN_IMPORT_SLOT(GetTokenInformation, 20));
BOOL WINAPI GroupsRefused(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD size) {
  *size = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(Administrators, TokenThatCannotBeReadMakesNoAdministrator) {
  ClearLogFolder();
  {
    ImportSwap<OpenProcessTokenFn> swap(&g_openProcessTokenImport, TokenRefused);
    EXPECT_FALSE(IsCurUserAdmin());
  }
  {
    ImportSwap<GetTokenInformationFn> swap(&g_getTokenInformationImport, GroupsRefused);
    EXPECT_FALSE(IsCurUserAdmin());
  }
  EXPECT_EQ(ReadLogMessages("IsCurUserAdmin", "c:\\OlvanLog"),
            (std::vector<std::string>{"Cannot open process token", "GetTokenInformation error"}));
}

// Each refusal's box: the warning icon, the text and caption of the system's language (this
// prefix's is English), no owner. MessageBoxA is swapped in the import table so that no
// box waits for a click.
using MessageBoxFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
extern "C" MessageBoxFn g_messageBoxImport asm(OLVAN_IMPORT_SLOT(MessageBoxA, 16));
struct Box {
  HWND owner;
  std::string text, caption;
  UINT type;
};
std::vector<Box> g_boxes;
int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  g_boxes.push_back({owner, text, caption, type});
  return IDOK;
}

// The system's language decides, not the user's: a stand-in GetSystemDefaultLangID says
// Chinese (PRC) while the user's stays this prefix's.
using LangFn = LANGID(WINAPI*)();
extern "C" LangFn g_systemLangImport asm(OLVAN_IMPORT_SLOT(GetSystemDefaultLangID, 0));
LANGID WINAPI ChinesePrc() { return MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED); }

TEST(Warnings, EachIsOneWarningBoxInTheSystemsLanguage) {
  for (bool zh : {false, true}) {
    g_boxes.clear();
    {
      ImportSwap<MessageBoxFn> swap(&g_messageBoxImport, RecordBox);
      ImportSwap<LangFn> lang(&g_systemLangImport, zh ? ChinesePrc : *g_systemLangImport);
      for (int m = 0; m < kMsgCount; ++m)
        EXPECT_TRUE(ShowSetupWarning(static_cast<SetupMessage>(m)));
    }
    ASSERT_EQ(g_boxes.size(), static_cast<size_t>(kMsgCount));
    for (int m = 0; m < kMsgCount; ++m) {
      SetupMessage msg = static_cast<SetupMessage>(m);
      EXPECT_EQ(g_boxes[m].owner, nullptr);
      EXPECT_EQ(g_boxes[m].text, zh ? MessageTextZh(msg) : MessageTextEn(msg));
      EXPECT_EQ(g_boxes[m].caption, zh ? kCaptionZh : kCaptionEn);
      EXPECT_EQ(g_boxes[m].type, static_cast<UINT>(MB_ICONWARNING));
    }
  }
  // The Chinese texts that no end-to-end case shows, as code page 936 spells them.
  auto zh = [](SetupMessage m) {
    wchar_t w[128] = L"";
    MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, MessageTextZh(m), -1, w, 128);
    return std::wstring(w);
  };
  EXPECT_EQ(zh(kMsgNoAdmin), L"您没有管理员权限，无法进行安装操作！");
  EXPECT_EQ(zh(kMsgDiskSpace), L"系统盘空间不足，安装要求系统盘必须有300M以上的空间。");
}

TEST(DllSearch, System32AloneAndNoCurrentFolder) {
  {
    ImportSwap<GetProcAddressFn> swap(&g_getProcAddressImport, RecordingGetProcAddress);
    g_realGetProcAddress = swap.Real();
    HardenDllSearch();
  }
  EXPECT_EQ(g_setDefaultCalls, 1);
  EXPECT_EQ(g_searchFlags, 0x800u);
  EXPECT_EQ(g_dllDirectory, "");
}

// The space counted is what the setup's own account may use, not the volume's free space:
// under a quota the install would otherwise start and fail for want of room. Wine knows no
// quotas, so the call is a stand-in handed out through the same import slot.
TEST(DiskSpace, WhatTheCallerMayUseIsCounted) {
  long long bytes;
  {
    ImportSwap<GetProcAddressFn> swap(&g_getProcAddressImport, RecordingGetProcAddress);
    g_realGetProcAddress = swap.Real();
    bytes = GetDiskFreeBytes("C:");
  }
  EXPECT_EQ(bytes, static_cast<long long>(kCallersBytes));
}

TEST(DiskSpace, WithoutTheExtendedCallFreeClustersAreCounted) {
  long long large, real, missing;
  {
    g_withoutExtendedFreeSpace = true;
    ImportSwap<GetProcAddressFn> swap(&g_getProcAddressImport, RecordingGetProcAddress);
    g_realGetProcAddress = swap.Real();
    real = GetDiskFreeBytes("C:\\");
    missing = GetDiskFreeBytes("Q:\\no\\such\\volume\\");
    ImportSwap<GetDiskFreeSpaceAFn> large_volume(&g_getDiskFreeSpaceImport,
                                                 LargeVolumeGetDiskFreeSpaceA);
    large = GetDiskFreeBytes("C:\\");
    g_withoutExtendedFreeSpace = false;
  }
  EXPECT_GT(real, 0);
  EXPECT_EQ(missing, -1);
  EXPECT_EQ(large, 12288000000LL);
}

}  // namespace
