// File opens and folder removal on real folders under the temporary folder.
#include "util/folders.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "tests/util/win_test_util.h"
#include "util/file_basics.h"
#include "util/file_open.h"
#include "util/links.h"

namespace {

bool Exists(const std::string& p) {
  return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeTree(const std::string& root) {
  CreateDirectoryA((root + "\\a").c_str(), nullptr);
  CreateDirectoryA((root + "\\a\\b").c_str(), nullptr);
  WriteFileBytes(root + "\\top.txt", "1");
  WriteFileBytes(root + "\\a\\mid.txt", "2");
  WriteFileBytes(root + "\\a\\b\\deep.txt", "3");
  SetFileAttributesA((root + "\\a\\b\\deep.txt").c_str(), FILE_ATTRIBUTE_READONLY);
}

TEST(FileOpen, NewOrOpenKeepsTheTailOfALongerFile) {
  std::string dir = NewTempFolder("open");
  std::string f = dir + "\\f.bin";
  WriteFileBytes(f, "0123456789");
  HANDLE h = utl_NewOrOpenFileForWrite(f.c_str());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  WriteFile(h, "abc", 3, &n, nullptr);
  // Others may read and write it meanwhile, but neither delete nor rename it.
  HANDLE other =
      CreateFileA(f.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  HANDLE d = CreateFileA(f.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(d, INVALID_HANDLE_VALUE);
  if (d != INVALID_HANDLE_VALUE) CloseHandle(d);
  CloseHandle(h);
  EXPECT_EQ(ReadFileBytes(f), "abc3456789");
  h = utl_NewOrOpenFileForWrite((dir + "\\new.bin").c_str());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(Exists(dir + "\\new.bin"));
}

// Both forms of the name, narrow and wide.
TEST(FileOpen, ReadOpenRefusesMissingFilesAndKeepsWritersOut) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "wide" : "narrow");
    auto open = [wide](const std::string& p) {
      return wide ? utl_OpenFileForReadW(std::wstring(p.begin(), p.end()).c_str())
                  : utl_OpenFileForRead(p.c_str());
    };
    std::string dir = NewTempFolder("open");
    EXPECT_EQ(open(dir + "\\none"), INVALID_HANDLE_VALUE);
    std::string f = dir + "\\r.bin";
    WriteFileBytes(f, "data");
    HANDLE r = open(f);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    HANDLE w = CreateFileA(f.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(w, INVALID_HANDLE_VALUE);
    // Nor may anyone delete or rename the file while it is read.
    HANDLE d =
        CreateFileA(f.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(d, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (d != INVALID_HANDLE_VALUE) CloseHandle(d);
    HANDLE r2 = open(f);
    EXPECT_NE(r2, INVALID_HANDLE_VALUE);
    CloseHandle(r2);
    CloseHandle(r);
  }
}

TEST(Folders, RemoveTreeOfMissingFolderIsTrue) {
  EXPECT_TRUE(utl_RemoveFolderTree((NewTempFolder("rm") + "\\none").c_str()));
}

TEST(Folders, RemoveTreeTakesReadOnlyFilesAndEveryLevel) {
  std::string root = NewTempFolder("rm");
  MakeTree(root);
  EXPECT_TRUE(utl_RemoveFolderTree(root.c_str()));
  EXPECT_FALSE(Exists(root));
}

TEST(Folders, FileHeldOpenKeepsItsFolderAndEveryFolderAbove) {
  std::string root = NewTempFolder("rm");
  MakeTree(root);
  SetFileAttributesA((root + "\\a\\b\\deep.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE held = CreateFileA((root + "\\a\\b\\deep.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(utl_RemoveFolderTree(root.c_str()));
  EXPECT_TRUE(Exists(root + "\\a\\b\\deep.txt"));
  EXPECT_FALSE(Exists(root + "\\top.txt"));
  EXPECT_FALSE(Exists(root + "\\a\\mid.txt"));
  CloseHandle(held);
  EXPECT_TRUE(utl_RemoveFolderTree(root.c_str()));
}

// C:\olvtest-folders (the util_folders_linked fixture): target, a folder with a file and a
// sub-folder with another; link, a Linux symbolic link to target, which Wine shows as a folder
// link; outer, a folder holding another link to target. Removing a tree at a link, or a tree
// that holds one, removes at most the link: what it leads to keeps every file. (Windows
// removes a link itself; Wine's RemoveDirectoryA reaches a Linux link's target and refuses
// while that is not empty, so the links stay here.)
TEST(Folders, RemoveTreeTakesAFolderLinkAsALinkOnly) {
  const std::string dir = "C:\\olvtest-folders";
  if (!IsLink((dir + "\\link").c_str()) || !IsLink((dir + "\\outer\\link").c_str()))
    GTEST_SKIP() << "the links in " << dir << " not made";
  utl_RemoveFolderTree((dir + "\\outer").c_str());
  utl_RemoveFolderTree((dir + "\\link").c_str());
  utl_ClearAndRemoveFolder((dir + "\\link").c_str());
  EXPECT_EQ(ReadFileBytes(dir + "\\target\\keep.txt"), "k\n");
  EXPECT_EQ(ReadFileBytes(dir + "\\target\\sub\\deep.txt"), "d\n");
}

// A file link found by the deletion of matching files is deleted as a link: the read-only
// file it leads to keeps its attribute. Wine lists a Linux link to a file as a plain file,
// so the listing calls are stand-ins (swapped in the import table) that report the link as
// Windows does, with the reparse-point attribute.
using FindFirstFn = HANDLE(WINAPI*)(LPCSTR, LPWIN32_FIND_DATAA);
using FindNextFn = BOOL(WINAPI*)(HANDLE, LPWIN32_FIND_DATAA);
extern "C" FindFirstFn g_findFirstImport asm(OLVAN_IMPORT_SLOT(FindFirstFileA, 8));
extern "C" FindNextFn g_findNextImport asm(OLVAN_IMPORT_SLOT(FindNextFileA, 8));
FindFirstFn g_realFindFirst;
FindNextFn g_realFindNext;
void MarkLink(LPWIN32_FIND_DATAA fd) {
  if (strcmp(fd->cFileName, "link.txt") == 0) fd->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
}
HANDLE WINAPI FindFirstMarkingLinks(LPCSTR pattern, LPWIN32_FIND_DATAA fd) {
  HANDLE h = g_realFindFirst(pattern, fd);
  if (h != INVALID_HANDLE_VALUE) MarkLink(fd);
  return h;
}
BOOL WINAPI FindNextMarkingLinks(HANDLE h, LPWIN32_FIND_DATAA fd) {
  BOOL ok = g_realFindNext(h, fd);
  if (ok) MarkLink(fd);
  return ok;
}
TEST(Folders, DeletingMatchingFilesLeavesALinksTargetReadOnly) {
  const std::string dir = "C:\\olvtest-folders";
  if (!Exists(dir + "\\files\\link.txt")) GTEST_SKIP() << "the file link in " << dir << " not made";
  const std::string ro = dir + "\\target\\ro.txt";
  ASSERT_TRUE(SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  {
    ImportSwap<FindFirstFn> first(&g_findFirstImport, FindFirstMarkingLinks);
    ImportSwap<FindNextFn> next(&g_findNextImport, FindNextMarkingLinks);
    g_realFindFirst = first.Real();
    g_realFindNext = next.Real();
    DeleteMatchingFiles((dir + "\\files").c_str(), "*.*");
  }
  EXPECT_EQ(GetFileAttributesA(ro.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ReadFileBytes(ro), "r\n");
  SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Folders, RemoveSubFoldersLeavesTheFilesOfTheFolder) {
  std::string root = NewTempFolder("rm");
  MakeTree(root);
  utl_RemoveSubFolders(root.c_str());
  EXPECT_TRUE(Exists(root + "\\top.txt"));
  EXPECT_FALSE(Exists(root + "\\a"));
  utl_RemoveSubFolders((root + "\\none").c_str());
}

TEST(Folders, ClearAndRemoveKeepsAFolderWithSubFolders) {
  std::string root = NewTempFolder("rm");
  MakeTree(root);
  SetFileAttributesA((root + "\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  utl_ClearAndRemoveFolder(root.c_str());
  EXPECT_FALSE(Exists(root + "\\top.txt"));
  EXPECT_TRUE(Exists(root + "\\a\\mid.txt"));
  utl_ClearAndRemoveFolder((root + "\\a\\b").c_str());
  EXPECT_FALSE(Exists(root + "\\a\\b"));
  utl_ClearAndRemoveFolder((root + "\\none").c_str());
}

}  // namespace
