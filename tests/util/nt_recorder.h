// A recorder put into HeldFolder's table of native calls (util/nt_calls.h) for the length of
// a test: it notes the class, length and bytes of every information call and what every
// create hands to Windows (the security descriptor read at the call), then forwards, unless
// the test has it answer a class itself (a system that knows the case flag, one that
// refuses the POSIX deletion) or act when a create returns. Wine checks none of these values; Windows checks all.
#pragma once
#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/util/win_test_util.h"
#include "util/nt_calls.h"
#include "util/win_values.h"

// What the program's opens hand over, named for tests that compare whole opens: a held
// folder's access, and the options of every open of a folder or a file (never following a
// link).
constexpr ULONG kHeldFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kFolderOptions =
    FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;
constexpr ULONG kFileOptions =
    FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct NtInfoCall {
  HANDLE handle;
  ULONG infoClass;
  ULONG length;
  std::vector<BYTE> bytes;  // what a set passed in
  NTSTATUS status;
};

struct NtAce {
  std::string sid;
  ACCESS_MASK mask;
  BYTE type, flags;
};

struct NtCreateCall {
  HANDLE root;
  std::wstring name;
  ACCESS_MASK access;
  ULONG share, disposition, options;
  ULONG objectAttributes;  // of the name: OBJ_CASE_INSENSITIVE and the like
  bool hasDescriptor = false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  bool hasOwner = false, hasGroup = false, daclPresent = false;
  std::vector<NtAce> aces;
  NTSTATUS status;
};

class NtRecorder {
 public:
  // Answers a class instead of the system: return true and set *status (a query may fill
  // buffer first).
  using Answer = std::function<bool(ULONG infoClass, void* buffer, ULONG length, NTSTATUS* status)>;

  NtRecorder() {
    NtCalls& t = NtCallsForTest();
    real_ = t;
    Self() = this;
    t.setInformation = Set;
    t.queryInformation = Query;
    t.create = Create;
  }
  ~NtRecorder() {
    NtCallsForTest() = real_;
    Self() = nullptr;
  }
  NtRecorder(const NtRecorder&) = delete;
  NtRecorder& operator=(const NtRecorder&) = delete;

  Answer answerSet, answerQuery;
  // Runs after each create that succeeded, with what it handed to Windows and the handle it
  // got; a test may act at that moment, or put another handle in its place (then closing
  // the one it replaces).
  std::function<void(const NtCreateCall&, HANDLE* handle)> afterCreate;
  std::vector<NtInfoCall> sets, queries;
  std::vector<NtCreateCall> creates;

  std::vector<NtInfoCall> SetsOf(ULONG infoClass) const {
    std::vector<NtInfoCall> out;
    for (const auto& c : sets)
      if (c.infoClass == infoClass) out.push_back(c);
    return out;
  }

 private:
  static NtRecorder*& Self() {
    static NtRecorder* self = nullptr;
    return self;
  }
  static NTSTATUS NTAPI Set(HANDLE h, PIO_STATUS_BLOCK io, PVOID buf, ULONG len, ULONG cls) {
    NtRecorder* r = Self();
    NtInfoCall c{h, cls, len,
                 std::vector<BYTE>(static_cast<BYTE*>(buf), static_cast<BYTE*>(buf) + len), 0};
    if (!(r->answerSet && r->answerSet(cls, buf, len, &c.status)))
      c.status = r->real_.setInformation(h, io, buf, len, cls);
    r->sets.push_back(c);
    return c.status;
  }
  static NTSTATUS NTAPI Query(HANDLE h, PIO_STATUS_BLOCK io, PVOID buf, ULONG len, ULONG cls) {
    NtRecorder* r = Self();
    NtInfoCall c{h, cls, len, {}, 0};
    if (!(r->answerQuery && r->answerQuery(cls, buf, len, &c.status)))
      c.status = r->real_.queryInformation(h, io, buf, len, cls);
    r->queries.push_back(c);
    return c.status;
  }
  static NTSTATUS NTAPI Create(PHANDLE h, ACCESS_MASK access, POBJECT_ATTRIBUTES oa,
                               PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG attributes,
                               ULONG share, ULONG disposition, ULONG options, PVOID ea,
                               ULONG eaLength) {
    NtRecorder* r = Self();
    NtCreateCall c;
    c.root = oa->RootDirectory;
    c.name.assign(oa->ObjectName->Buffer, oa->ObjectName->Length / sizeof(WCHAR));
    c.access = access;
    c.share = share;
    c.disposition = disposition;
    c.options = options;
    c.objectAttributes = oa->Attributes;
    PSECURITY_DESCRIPTOR sd = oa->SecurityDescriptor;
    c.hasDescriptor = sd != nullptr;
    if (sd != nullptr) {
      DWORD revision;
      GetSecurityDescriptorControl(sd, &c.control, &revision);
      PSID sid = nullptr;
      BOOL defaulted, present = FALSE;
      c.hasOwner = GetSecurityDescriptorOwner(sd, &sid, &defaulted) && sid != nullptr;
      sid = nullptr;
      c.hasGroup = GetSecurityDescriptorGroup(sd, &sid, &defaulted) && sid != nullptr;
      PACL acl = nullptr;
      GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted);
      c.daclPresent = present != FALSE;
      for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) break;
        char* text = nullptr;
        NtAce a{"", ace->Mask, ace->Header.AceType, ace->Header.AceFlags};
        if (ConvertSidToStringSidA(&ace->SidStart, &text)) {
          a.sid = text;
          LocalFree(text);
        }
        c.aces.push_back(a);
      }
    }
    c.status = r->real_.create(h, access, oa, io, size, attributes, share, disposition, options, ea,
                               eaLength);
    if (r->afterCreate && c.status >= 0) r->afterCreate(c, h);
    r->creates.push_back(c);
    return c.status;
  }

  NtCalls real_;
};

// Has the listing through HeldFolder's table report the entries for which marks() says so
// as Windows reports a link (the reparse-point attribute), for the life of the object: Wine
// makes no directory symbolic link, and shows a Linux link to a file as a plain file.
class ListingShowsLinks {
 public:
  using Marks = std::function<bool(const FILE_ID_BOTH_DIR_INFO&)>;
  explicit ListingShowsLinks(Marks marks) {
    NtCalls& t = NtCallsForTest();
    real_ = t.queryDirectory;
    Self() = this;
    marks_ = std::move(marks);
    t.queryDirectory = List;
  }
  ~ListingShowsLinks() {
    NtCallsForTest().queryDirectory = real_;
    Self() = nullptr;
  }
  ListingShowsLinks(const ListingShowsLinks&) = delete;
  ListingShowsLinks& operator=(const ListingShowsLinks&) = delete;

 private:
  static ListingShowsLinks*& Self() {
    static ListingShowsLinks* self = nullptr;
    return self;
  }
  static NTSTATUS NTAPI List(HANDLE h, HANDLE ev, PVOID apc, PVOID ctx, PIO_STATUS_BLOCK io,
                             PVOID buf, ULONG len, ULONG cls, BOOLEAN single, PUNICODE_STRING mask,
                             BOOLEAN restart) {
    ListingShowsLinks* self = Self();
    NTSTATUS st = self->real_(h, ev, apc, ctx, io, buf, len, cls, single, mask, restart);
    for (BYTE* p = static_cast<BYTE*>(buf); st >= 0;) {
      auto* info = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(p);
      if (self->marks_(*info)) info->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      if (info->NextEntryOffset == 0) break;
      p += info->NextEntryOffset;
    }
    return st;
  }

  NtQueryDirectoryFileFn real_;
  Marks marks_;
};

// Keeps the read-only attribute of the given files and folders as Windows keeps it, for the
// life of the object: Wine keeps none on a folder and adds ARCHIVE to every file, so that no
// entry here is ever read-only alone. Their basic information (GetFileInformationByHandleEx,
// swapped in the import table) reports read-only and nothing else but the folder bit; a change
// of it (SetFileInformationByHandle, swapped likewise) takes read-only away unless it hands
// attributes 0, which Windows reads as "leave them"; and their deletion through HeldFolder's
// table is refused with STATUS_CANNOT_DELETE while they are still read-only, as Windows
// refuses it. Entries are known by file ID, so a rename does not lose them.
using FileInfoByHandleFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
extern "C" FileInfoByHandleFn olvanReadOnlyGetSlot asm(
    OLVAN_IMPORT_SLOT(GetFileInformationByHandleEx, 16));
extern "C" FileInfoByHandleFn olvanReadOnlySetSlot asm(
    OLVAN_IMPORT_SLOT(SetFileInformationByHandle, 16));
class ReadOnlyAsWindowsKeepsIt {
 public:
  using GetInfoFn = FileInfoByHandleFn;
  using SetInfoFn = FileInfoByHandleFn;

  explicit ReadOnlyAsWindowsKeepsIt(const std::vector<std::string>& paths)
      : get_(&GetSlot(), Get), set_(&SetSlot(), Set) {
    for (const std::string& p : paths) {
      HANDLE h = CreateFileA(p.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (h == INVALID_HANDLE_VALUE) continue;
      kept_.insert(IdOf(h));
      CloseHandle(h);
    }
    NtCalls& t = NtCallsForTest();
    realNtSet_ = t.setInformation;
    Self() = this;
    t.setInformation = NtSet;
  }
  ~ReadOnlyAsWindowsKeepsIt() {
    NtCallsForTest().setInformation = realNtSet_;
    Self() = nullptr;
  }
  ReadOnlyAsWindowsKeepsIt(const ReadOnlyAsWindowsKeepsIt&) = delete;
  ReadOnlyAsWindowsKeepsIt& operator=(const ReadOnlyAsWindowsKeepsIt&) = delete;

  // How many of the entries are read-only still; the deletions refused for it.
  size_t StillReadOnly() const { return kept_.size(); }
  int refusedDeletions = 0;

 private:
  using Id = std::pair<DWORD, unsigned long long>;  // volume, file index
  static Id IdOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return Id(0, 0);
    return Id(info.dwVolumeSerialNumber,
              (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
  }
  bool Kept(HANDLE h) const { return kept_.count(IdOf(h)) != 0; }
  static ReadOnlyAsWindowsKeepsIt*& Self() {
    static ReadOnlyAsWindowsKeepsIt* self = nullptr;
    return self;
  }
  static GetInfoFn& GetSlot() { return olvanReadOnlyGetSlot; }
  static SetInfoFn& SetSlot() { return olvanReadOnlySetSlot; }
  static BOOL WINAPI Get(HANDLE h, FILE_INFO_BY_HANDLE_CLASS cls, LPVOID out, DWORD size) {
    ReadOnlyAsWindowsKeepsIt* self = Self();
    BOOL ok = self->get_.Real()(h, cls, out, size);
    if (ok && cls == FileBasicInfo && self->Kept(h)) {
      auto* basic = static_cast<FILE_BASIC_INFO*>(out);
      basic->FileAttributes =
          FILE_ATTRIBUTE_READONLY | (basic->FileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    return ok;
  }
  static BOOL WINAPI Set(HANDLE h, FILE_INFO_BY_HANDLE_CLASS cls, LPVOID in, DWORD size) {
    ReadOnlyAsWindowsKeepsIt* self = Self();
    if (cls == FileBasicInfo && size >= sizeof(FILE_BASIC_INFO)) {
      DWORD a = static_cast<FILE_BASIC_INFO*>(in)->FileAttributes;
      if (a != 0 && (a & FILE_ATTRIBUTE_READONLY) == 0) self->kept_.erase(IdOf(h));
    }
    return self->set_.Real()(h, cls, in, size);
  }
  static NTSTATUS NTAPI NtSet(HANDLE h, PIO_STATUS_BLOCK io, PVOID buf, ULONG len, ULONG cls) {
    ReadOnlyAsWindowsKeepsIt* self = Self();
    if ((cls == win::kFileDispositionInformation || cls == win::kFileDispositionInformationEx) &&
        self->Kept(h)) {
      ++self->refusedDeletions;
      return static_cast<NTSTATUS>(0xC0000121u);  // STATUS_CANNOT_DELETE
    }
    return self->realNtSet_(h, io, buf, len, cls);
  }

  ImportSwap<GetInfoFn> get_;
  ImportSwap<SetInfoFn> set_;
  NtSetInformationFileFn realNtSet_;
  std::set<Id> kept_;
};

// Has GetFileInformationByHandleEx (swapped in the import table) report the file or folder
// at path as Windows reports a link opened as itself, for the life of the object: the
// reparse-point attribute in its basic and tag information, and the given reparse tag. Wine
// makes no directory symbolic link or junction, and opens a Linux link's target. The entry is
// known by file ID.
class InfoShowsALink {
 public:
  InfoShowsALink(const std::string& path, DWORD tag)
      : get_(&olvanReadOnlyGetSlot, Get), tag_(tag) {
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (h != INVALID_HANDLE_VALUE) {
      GetFileInformationByHandle(h, &info);
      CloseHandle(h);
    }
    id_.HighPart = static_cast<LONG>(info.nFileIndexHigh);
    id_.LowPart = info.nFileIndexLow;
    Self() = this;
  }
  ~InfoShowsALink() { Self() = nullptr; }
  InfoShowsALink(const InfoShowsALink&) = delete;
  InfoShowsALink& operator=(const InfoShowsALink&) = delete;
  // The entry's file ID, as a listing shows it.
  LARGE_INTEGER Id() const { return id_; }

 private:
  static InfoShowsALink*& Self() {
    static InfoShowsALink* self = nullptr;
    return self;
  }
  static BOOL WINAPI Get(HANDLE h, FILE_INFO_BY_HANDLE_CLASS cls, LPVOID out, DWORD size) {
    InfoShowsALink* self = Self();
    BOOL ok = self->get_.Real()(h, cls, out, size);
    BY_HANDLE_FILE_INFORMATION info;
    if (!ok || !GetFileInformationByHandle(h, &info) ||
        info.nFileIndexHigh != static_cast<DWORD>(self->id_.HighPart) ||
        info.nFileIndexLow != self->id_.LowPart)
      return ok;
    if (cls == FileBasicInfo)
      static_cast<FILE_BASIC_INFO*>(out)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (cls == FileAttributeTagInfo) {
      auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(out);
      tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      tag->ReparseTag = self->tag_;
    }
    return ok;
  }

  ImportSwap<FileInfoByHandleFn> get_;
  DWORD tag_;
  LARGE_INTEGER id_;
};
