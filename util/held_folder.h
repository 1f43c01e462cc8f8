// A folder held open by handle, for folders that ordinary users can write before or while
// the elevated setup works in them (<d>:\tmp, the working folder, the log folder).
//
// The folder is opened or made without following a link, and its entries are listed,
// made, opened, renamed and deleted relative to the handle, never through a path resolved
// again: a folder renamed away or replaced by a link after it was opened changes nothing
// the setup does through the handle. The handle asks for FILE_LIST_DIRECTORY, so it takes
// part in sharing checks, and shares read and write but not delete, so Windows refuses to
// rename or delete the held folder while it is open.
#pragma once
#include <windows.h>

#include "util/handles.h"
#include "util/links.h"

// One entry of a listing: its name as stored (UTF-16, not terminated), its attributes and
// its file ID, all taken from the listing itself.
struct HeldEntry {
  WCHAR name[256];
  unsigned nameChars;
  DWORD attributes;
  LARGE_INTEGER fileId;

  bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  // The name in the ANSI code page; false when it does not fit size bytes or has a
  // character that the code page cannot show exactly.
  bool AnsiName(char* out, unsigned size) const;
};

enum class HoldResult {
  kHeld,     // the handle holds a real folder
  kRefused,  // a link or something that is not a folder stands at the name
  kFailed,   // it could not be opened or made (GetLastError tells why)
};

class HeldFolder {
 public:
  HeldFolder() = default;
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  // Opens the root folder of a drive ("C:\").
  bool OpenDriveRoot(char drive);

  // Opens the folder name inside parent without following a link; when make is set, a
  // missing folder is made by the same call, with sd (null: inherited security).
  // extraAccess is asked for besides what the hold needs. The folder is held only when
  // parent's listing shows that name as a real folder with the handle's file ID, whether
  // this call found it or made it: a handle opened on a link reports its target under
  // Wine, which makes a folder and then opens it by name, so a link swapped in between
  // is caught only there. kRefused leaves nothing held.
  HoldResult Open(const HeldFolder& parent, const char* name, bool make,
                  PSECURITY_DESCRIPTOR sd = nullptr, DWORD extraAccess = 0);
  // Makes the folder name inside parent, which must not exist yet, and holds it, proven
  // by parent's listing as Open proves a folder. kFailed when something stands there
  // (ERROR_ALREADY_EXISTS) or it cannot be made; kRefused when it was made but the name
  // does not lead to what the handle holds (swapped in between, under Wine).
  HoldResult MakeNew(const HeldFolder& parent, const char* name, PSECURITY_DESCRIPTOR sd,
                     DWORD extraAccess = 0);
  // Holds an open folder handle (one that OpenListed gave).
  void Adopt(HANDLE folder) { h_.Reset(folder); }

  bool Valid() const { return h_.Valid(); }
  HANDLE Get() const { return h_.Get(); }
  void Close() { h_.Reset(); }
  // The identity read when Open or MakeNew took the handle.
  bool Identity(FileIdentity* id) const {
    if (Valid()) *id = id_;
    return Valid();
  }
  // True when path, opened again without following a link, leads to the very folder held
  // (the identity read when it was taken) and is no link. Wine lets another program rename
  // a held folder: this is what notices a swap there.
  bool IsAt(const char* path) const;
  // Clears the per-folder case-sensitivity flag when it is set (the handle needs
  // FILE_WRITE_ATTRIBUTES). True when the folder is not case-sensitive afterwards, a folder
  // that cannot carry the flag included; false, with GetLastError, when the flag is set, or
  // cannot be read, and cannot be cleared.
  bool ClearCaseSensitive() const;

  // Calls visit(entry) for every entry but "." and ".." until visit answers false. False
  // when the folder cannot be listed. visit may delete entries: the listing goes on.
  template <typename F>
  bool List(F visit) const {
    return ListRaw([](const HeldEntry& e, void* ctx) { return (*static_cast<F*>(ctx))(e); },
                   &visit);
  }
  // The entry named name (compared as the file system does, case-insensitively); false
  // when the listing has none or cannot be read.
  bool Find(const char* name, HeldEntry* out) const;
  bool Find(const HeldEntry& like, HeldEntry* out) const;
  // True when the folder was listed and holds no entry.
  bool IsEmpty() const;

  // Opens or makes the entry name relative to the folder: NtCreateFile's access, share,
  // disposition (FILE_OPEN, FILE_CREATE...) and options; FILE_OPEN_REPARSE_POINT and
  // synchronous I/O are always added. INVALID_HANDLE_VALUE on failure with the Win32 error
  // for GetLastError.
  HANDLE OpenEntry(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD options,
                   PSECURITY_DESCRIPTOR sd = nullptr) const;
  // Opens the listed entry and proves that the handle is what the listing showed: same
  // file ID, and no link. INVALID_HANDLE_VALUE otherwise (a link, a swapped entry).
  HANDLE OpenListed(const HeldEntry& e, DWORD access, DWORD options) const;
  // Renames the entry open as entry (opened with DELETE) to newName in this folder; a name
  // that exists is never replaced (false, ERROR_ALREADY_EXISTS) unless replace is set: a
  // file or link standing there is then replaced as a name, what a link led to untouched.
  bool MoveHere(HANDLE entry, const char* newName, bool replace = false) const;
  // True when the name the system gives the open entry ends in the listed name of e and
  // still leads to that very entry. Wine renames an open entry through the name it recorded
  // at the open, which leads elsewhere once a folder on the way was renamed from outside and
  // a link put in its place: such an entry is not renamed. On Windows, which renames the
  // open file itself, the check always agrees. (Wine deletes a name only while it still
  // leads to the open file.)
  bool NamesEntry(HANDLE entry, const HeldEntry& e) const;

 private:
  bool ListRaw(bool (*visit)(const HeldEntry&, void*), void* ctx) const;
  // Holds h when parent's listing shows name as a real folder with h's file ID.
  HoldResult Prove(const HeldFolder& parent, const char* name, HANDLE h);
  UniqueHandle h_;
  FileIdentity id_ = {};
};

// Marks the open entry (opened with DELETE) for deletion when its last handle closes.
bool DeleteWhenClosed(HANDLE entry);
// Clears the read-only attribute of the open entry (opened with FILE_WRITE_ATTRIBUTES).
bool ClearReadOnly(HANDLE entry, DWORD attributes);
// The attributes, number of names and file ID of an open entry.
bool EntryFacts(HANDLE entry, DWORD* attributes, DWORD* links, LARGE_INTEGER* fileId);
