// utl_FileUnpack on crafted carriers: every error number a caller or a package can provoke,
// the log lines, and the unpacker's guards (names, truncation, short writes).
#include "package/unpack.h"

#include <winioctl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/digest_slot.h"
#include "package/file_size.h"
#include "package/package_format.h"
#include "package/sha256.h"
#include "tests/package/package_craft.h"
#include "tests/util/win_test_util.h"

namespace {

const DWORD kOffset = 1000;

bool Exists(const std::string& p) {
  return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Puts digest into the slot of this test program's own image, as the release tool puts one
// into Setup.exe: the program then reads as bound to it. All zeros: not bound again.
void PutOwnSlotDigest(const unsigned char digest[kSha256Len]) {
  BYTE* slot = const_cast<BYTE*>(g_packageDigestSlot);
  ASSERT_EQ(memcmp(slot, kDigestSlotMarker, kDigestSlotMarkerLen), 0);
  DWORD was;
  ASSERT_TRUE(VirtualProtect(slot, kDigestSlotLen, PAGE_READWRITE, &was));
  memcpy(slot + kDigestSlotMarkerLen, digest, kSha256Len);
  VirtualProtect(slot, kDigestSlotLen, was, &was);
}

// Any byte of the digest makes the program bound, a last byte of zero too.
TEST(DigestSlot, BoundByADigestThatEndsInZero) {
  unsigned char digest[kSha256Len], read[kSha256Len];
  memset(digest, 0x11, sizeof digest);
  digest[kSha256Len - 1] = 0;
  PutOwnSlotDigest(digest);
  EXPECT_TRUE(ReadBoundDigest(read));
  EXPECT_EQ(memcmp(read, digest, kSha256Len), 0);
  memset(digest, 0, sizeof digest);
  PutOwnSlotDigest(digest);
  EXPECT_FALSE(ReadBoundDigest(read));
}

class FileUnpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = NewTempFolder("unpack");
    dst_ = root_ + "\\out";
    CreateDirectoryA(dst_.c_str(), nullptr);
    ClearLogFolder();
  }
  // Writes carrier.bin: kOffset stub bytes, then the package.
  void Carrier(const std::string& package) {
    WriteFileBytes(root_ + "\\carrier.bin", std::string(kOffset, 'S') + package);
  }
  DWORD Unpack(int want, DWORD offset = kOffset) {
    DWORD err = 0;
    EXPECT_EQ(utl_FileUnpack(root_.c_str(), "carrier.bin", dst_.c_str(), &err, offset), want);
    return err;
  }
  std::vector<std::string> Log() { return ReadLogMessages("stp_UtlFile"); }
  std::string Out(const std::string& name) { return ReadFileBytes(dst_ + "\\" + name); }

  std::string root_, dst_;
};

TEST_F(FileUnpackTest, UnpacksEveryEntryAndLogsEachStep) {
  std::string big = Pattern(9000);
  Carrier(Marker() + Entry("a.txt", "hello") + Entry("big.bin", big) + EndEntry() + "junk");
  EXPECT_EQ(Unpack(1), 0u);
  EXPECT_EQ(Out("a.txt"), "hello");
  EXPECT_EQ(Out("big.bin"), big);
  EXPECT_TRUE(Exists(dst_ + "\\^Olvan_end^"));
  EXPECT_EQ(Out("^Olvan_end^"), "");
  std::vector<std::string> log = Log();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], "utl_FileUnpack: pszSrcPath = " + root_ +
                        " pszSrcFile = carrier.bin pszDstPath = " + dst_);
  EXPECT_EQ(log[1], "utl_FileUnpack: szSrcAbsFile = " + root_ + "\\carrier.bin");
  size_t size = kOffset + Marker().size() + Entry("a.txt", "hello").size() +
                Entry("big.bin", big).size() + EndEntry().size() + 4;
  EXPECT_EQ(log[2], "utl_FileUnpack: dwSizeHigh = 0 dwSizeLow = " + std::to_string(size));
  EXPECT_EQ(log[3],
            "utl_FileUnpack: dwSizeLow = dwSizeLow - dwOffset= " + std::to_string(size - kOffset));
  EXPECT_EQ(log[4], "utl_FileUnpack: dwCurTotalLen = 17");
  EXPECT_EQ(log[5], "utl_FileUnpack: unpack time = 1");
  EXPECT_EQ(log[7], "utl_FileUnpack: dwCurTotalLen = 35");
  EXPECT_EQ(log[8], "utl_FileUnpack: szDstAbsFile = " + dst_ + "\\a.txt");
  EXPECT_EQ(log.back(), "utl_FileUnpack: The file is end.");
}

TEST_F(FileUnpackTest, NullArgumentsAre150) {
  DWORD err = 0;
  EXPECT_EQ(utl_FileUnpack(nullptr, "f", "d", &err, 0), 0);
  EXPECT_EQ(err, 150u);
  err = 0;
  EXPECT_EQ(utl_FileUnpack("s", nullptr, "d", &err, 0), 0);
  EXPECT_EQ(err, 150u);
  err = 0;
  EXPECT_EQ(utl_FileUnpack("s", "f", nullptr, &err, 0), 0);
  EXPECT_EQ(err, 150u);
  EXPECT_EQ(Log(), (std::vector<std::string>(3, "utl_FileUnpack:Err: 150.")));
}

TEST_F(FileUnpackTest, LongPathsAre151) {
  std::string src(200, 's'), file(60, 'f');
  DWORD err = 0;
  EXPECT_EQ(utl_FileUnpack(src.c_str(), file.c_str(), dst_.c_str(), &err, 0), 0);
  EXPECT_EQ(err, 151u);
  err = 0;
  std::string dst(260, 'd');
  EXPECT_EQ(utl_FileUnpack(root_.c_str(), "carrier.bin", dst.c_str(), &err, 0), 0);
  EXPECT_EQ(err, 151u);
  EXPECT_EQ(Log().back(), "utl_FileUnpack:Err: 151.");
}

TEST_F(FileUnpackTest, MissingCarrierIs152AndMissingDestinationIs158) {
  EXPECT_EQ(Unpack(0), 152u);
  Carrier(Marker());
  DWORD err = 0;
  EXPECT_EQ(utl_FileUnpack(root_.c_str(), "carrier.bin", (root_ + "\\none").c_str(), &err, kOffset),
            0);
  EXPECT_EQ(err, 158u);
  EXPECT_FALSE(Exists(root_ + "\\none"));
}

TEST_F(FileUnpackTest, OffsetAtOrPastTheEndIs155) {
  Carrier("");
  EXPECT_EQ(Unpack(0), 155u);
  EXPECT_EQ(Unpack(0, kOffset + 1), 155u);
  EXPECT_EQ(Log().back(), "utl_FileUnpack:Err: 155.");
}

TEST_F(FileUnpackTest, CarrierOf4GiBIs155) {
  std::string path = root_ + "\\carrier.bin";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &n, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = 0x100000000ll + 100;
  bool sized = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  if (!sized) GTEST_SKIP() << "cannot make a 4 GiB file here";
  EXPECT_EQ(Unpack(0, 10), 155u);
  DeleteFileA(path.c_str());
}

TEST_F(FileUnpackTest, CarrierLockedAgainstReadersIs156) {
  Carrier(Marker() + EndEntry());
  HANDLE lock = CreateFileA((root_ + "\\carrier.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Unpack(0), 156u);
  CloseHandle(lock);
}

TEST_F(FileUnpackTest, MarkerOnlyIsSuccessAndShortMarkerIs159) {
  Carrier(Marker());
  EXPECT_EQ(Unpack(1), 0u);
  Carrier(Marker().substr(0, 10));
  EXPECT_EQ(Unpack(0), 159u);
}

TEST_F(FileUnpackTest, UnmixedMarkerIs160) {
  Carrier(std::string(kPackageMarker, 17) + EndEntry());
  EXPECT_EQ(Unpack(0), 160u);
  std::vector<std::string> log = Log();
  EXPECT_EQ(log[log.size() - 2], "17");
  EXPECT_EQ(log.back(), "utl_FileUnpack:Err: 160.");
}

TEST_F(FileUnpackTest, NameLengthErrorsAre161) {
  Carrier(Marker() + Entry(std::string(64, 'n'), "64") + Entry(std::string(65, 'n'), "65"));
  EXPECT_EQ(Unpack(0), 161u);
  EXPECT_EQ(Out(std::string(64, 'n')), "64");
  Carrier(Marker() + Entry("a", "b") + "\x01\x02");
  EXPECT_EQ(Unpack(0), 161u);
  // A destination that leaves no room for the name.
  std::string deep = dst_ + "\\" + std::string(240 - dst_.size(), 'd');
  CreateDirectoryA(deep.c_str(), nullptr);
  Carrier(Marker() + Entry(std::string(20, 'x'), "b"));
  DWORD err = 0;
  EXPECT_EQ(utl_FileUnpack(root_.c_str(), "carrier.bin", deep.c_str(), &err, kOffset), 0);
  EXPECT_EQ(err, 161u);
}

TEST_F(FileUnpackTest, ShortDataLengthIs162AndOverlongEntryIs163) {
  Carrier(Marker() + Entry("a", "b") + Le32(1) + "\x05");
  EXPECT_EQ(Unpack(0), 162u);
  Carrier(Marker() + Entry("kept", "k") + RawEntry(4, 500, "lost", "short"));
  EXPECT_EQ(Unpack(0), 163u);
  EXPECT_EQ(Out("kept"), "k");
  EXPECT_FALSE(Exists(dst_ + "\\lost"));
}

// A bound program whose own package is cut short reports the walk's error, not a digest
// that could not match.
TEST_F(FileUnpackTest, BoundProgramWithATruncatedPackageReportsTheWalksError) {
  unsigned char digest[kSha256Len];
  memset(digest, 0x5a, sizeof digest);
  PutOwnSlotDigest(digest);
  WriteFileBytes(root_ + "\\carrier.bin", std::string(kExeCarrierOffset, 'S') + Marker() +
                                              Entry("a", "b") + Le32(1) + "\x05");
  EXPECT_EQ(Unpack(0, kExeCarrierOffset), 162u);
  memset(digest, 0, sizeof digest);
  PutOwnSlotDigest(digest);
}

// A bound program unpacks the package whose digest is the one bound into it, and refuses one
// whose digest differs in any byte, the last included.
class BoundUnpackTest : public FileUnpackTest {
 protected:
  void TearDown() override {
    unsigned char none[kSha256Len] = {};
    PutOwnSlotDigest(none);
  }
  // Binds this program to the package's digest, with its last byte changed by flip.
  void Bind(const std::string& package, unsigned char flip) {
    unsigned char digest[kSha256Len];
    Sha256Digest(package.data(), package.size(), digest);
    digest[kSha256Len - 1] ^= flip;
    PutOwnSlotDigest(digest);
  }
};

TEST_F(BoundUnpackTest, PackageOfTheBoundDigestUnpacks) {
  const std::string package = Marker() + Entry("a.txt", "hello") + EndEntry();
  Carrier(package);
  Bind(package, 0);
  EXPECT_EQ(Unpack(1), 0u);
}

TEST_F(BoundUnpackTest, DigestDifferingInItsLastByteIs167) {
  const std::string package = Marker() + Entry("a.txt", "hello") + EndEntry();
  Carrier(package);
  Bind(package, 1);
  EXPECT_EQ(Unpack(0), 167u);
}

// A signature's certificate table is not covered by the signature: no package byte is read
// from it. Carrier: a PE header naming the table, the package at kOffset, 64 table bytes.
TEST_F(FileUnpackTest, PackageInOrIntoTheCertificateTableIs168) {
  const std::string content = Pattern(5000);
  const std::string whole = Marker() + Entry("a.txt", content) + EndEntry();
  const std::string open = Marker() + Entry("a.txt", content);  // no end entry
  const uint32_t behind = kOffset + static_cast<uint32_t>(whole.size());
  const uint32_t midContent = kOffset + 17 + 8 + 5 + 100;
  struct Row {
    const char* what;
    std::string package;
    uint32_t tableAt, tableLen;
    bool plus;
    const char* how;  // null: unpacks; else how the reason line says it meets the table
  } rows[] = {
      {"signed: table right after the end entry", whole, behind, 64, false, nullptr},
      {"package inside the table", whole, kOffset - 8, behind - kOffset + 72, false,
       "starts inside"},
      {"package at the table's start (PE32+)", whole, kOffset, behind - kOffset + 64, true,
       "starts inside"},
      {"content runs into the table", whole, midContent, behind + 64 - midContent, false,
       "runs into"},
      {"no end entry: the walk reads on into the table", open,
       kOffset + static_cast<uint32_t>(open.size()), 64, false, "runs into"},
      {"table of no size", whole, midContent, 0, false, nullptr},
      {"table ending where the package starts", whole, kOffset - 100, 100, false, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    RemoveTree(dst_);
    CreateDirectoryA(dst_.c_str(), nullptr);
    WriteFileBytes(root_ + "\\carrier.bin", PeStub(kOffset, r.tableAt, r.tableLen, r.plus) +
                                                r.package + std::string(64, 'T'));
    EXPECT_EQ(Unpack(r.how == nullptr ? 1 : 0), r.how == nullptr ? 0u : 168u);
    if (r.how == nullptr) {
      EXPECT_EQ(Out("a.txt"), content);
    } else {
      EXPECT_NE(ReadLogMessages("setup").back().find(r.how), std::string::npos);
    }
  }
  // Without "MZ" the same bytes are no PE header and name no table.
  std::string notPe = PeStub(kOffset, kOffset - 8, behind - kOffset + 72);
  notPe[0] = 'X';
  WriteFileBytes(root_ + "\\carrier.bin", notPe + whole + std::string(64, 'T'));
  EXPECT_EQ(Unpack(1), 0u);
}

TEST_F(FileUnpackTest, FolderOfTheEntrysNameIs165) {
  CreateDirectoryA((dst_ + "\\taken").c_str(), nullptr);
  Carrier(Marker() + Entry("taken", "x"));
  EXPECT_EQ(Unpack(0), 165u);
}

TEST_F(FileUnpackTest, NamesLeavingTheFolderAreRefusedWith165) {
  for (const char* bad : {"..\\escaped.txt", "..", "sub\\f.txt", "../escaped.txt", "C:escaped",
                          "CON", "aux.txt", "nul", "x\x01", "q?", "dot."}) {
    Carrier(Marker() + Entry(bad, "evil"));
    EXPECT_EQ(Unpack(0), 165u) << bad;
    EXPECT_EQ(Log().back(), "utl_FileUnpack:Err: 165.");
  }
  EXPECT_FALSE(Exists(root_ + "\\escaped.txt"));
  EXPECT_FALSE(Exists(root_ + "\\escaped"));
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dst_ + "\\*").c_str(), &fd);
  int entries = 0;
  do {
    ++entries;
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  EXPECT_EQ(entries, 2) << "only . and ..";
}

// Run by the test package_file_unpack_test_936, under LC_ALL=zh_CN.UTF-8.
TEST_F(FileUnpackTest, CodePage936NameWithSecondBytes5CAnd7CIsUnpacked) {
  if (GetACP() != 936)
    GTEST_SKIP() << "the ANSI code page is " << GetACP()
                 << ", not 936; run under LC_ALL=zh_CN.UTF-8";
  // Wine gives file names the encoding of the Unix locale; without that locale on the
  // machine (see CMakeLists.txt) it creates no file with a non-ASCII name at all.
  HANDLE probe = CreateFileA((dst_ + "\\\xB0\xA1").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE)
    GTEST_SKIP() << "no file with a non-ASCII name can be created here (error " << GetLastError()
                 << "); Wine needs the Unix locale zh_CN.UTF-8";
  CloseHandle(probe);
  // Two characters whose second bytes are 0x5C ('\\' alone) and 0x7C ('|' alone).
  const std::string name = "\x81\x5C\xB1\x7C.txt";
  Carrier(Marker() + Entry(name, "dbcs") + EndEntry());
  Unpack(1);
  EXPECT_EQ(Out(name), "dbcs");
}

TEST_F(FileUnpackTest, ANameGivenTwiceLeavesExactlyTheSecondContent) {
  WriteFileBytes(dst_ + "\\old.txt", "an older and much longer content");
  Carrier(Marker() + Entry("f", "first, longer content") + Entry("f", "2nd") +
          Entry("old.txt", "new") + EndEntry());
  EXPECT_EQ(Unpack(1), 0u);
  EXPECT_EQ(Out("f"), "2nd");
  EXPECT_EQ(Out("old.txt"), "new");
}

TEST_F(FileUnpackTest, ExistingEndFileIsEmptied) {
  WriteFileBytes(dst_ + "\\^Olvan_end^", "stale");
  Carrier(Marker() + EndEntry());
  EXPECT_EQ(Unpack(1), 0u);
  EXPECT_EQ(Out("^Olvan_end^"), "");
}

TEST_F(FileUnpackTest, WriteThatCannotCompleteIs157) {
  // A region locked by another handle refuses the unpacker's write.
  Carrier(Marker() + Entry("locked.bin", "content"));
  WriteFileBytes(dst_ + "\\locked.bin", "");
  HANDLE other =
      CreateFileA((dst_ + "\\locked.bin").c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(LockFile(other, 0, 0, 1 << 20, 0));
  HANDLE probe =
      CreateFileA((dst_ + "\\locked.bin").c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD n = 0;
  bool enforced = !WriteFile(probe, "x", 1, &n, nullptr);
  CloseHandle(probe);
  if (!enforced) {
    UnlockFile(other, 0, 0, 1 << 20, 0);
    CloseHandle(other);
    GTEST_SKIP() << "byte-range locks are not enforced here; the walk's tests cover 157";
  }
  DWORD err = Unpack(0);
  UnlockFile(other, 0, 0, 1 << 20, 0);
  CloseHandle(other);
  EXPECT_EQ(err, 157u);
}

TEST_F(FileUnpackTest, WriteToAFullDeviceIs157) {
  // C:\olvtest-full\full is a host link to /dev/full, laid by the test package_full_device
  // before this case: the device takes no byte, and Wine fails the write with
  // ERROR_DISK_FULL. Windows has no such device.
  const char kFolder[] = "C:\\olvtest-full";
  HANDLE device =
      CreateFileA("C:\\olvtest-full\\full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no full device here";
  CloseHandle(device);
  Carrier(Marker() + Entry("full", "content") + EndEntry());
  DWORD err = 0;
  EXPECT_EQ(utl_FileUnpack(root_.c_str(), "carrier.bin", kFolder, &err, kOffset), 0);
  EXPECT_EQ(err, 157u);
}

// A write that the system reports as done but shorter than asked is a failure too. No file
// system here writes short and says so (a full disk fails the call): a stand-in, WriteFile
// swapped in this program's import table, writes half of what is asked into short.bin.
using WriteFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern "C" WriteFn g_writeFileImport asm(OLVAN_IMPORT_SLOT(WriteFile, 20));
WriteFn g_realWriteFile;

BOOL WINAPI WriteHalfToShortBin(HANDLE h, LPCVOID data, DWORD count, LPDWORD written,
                                LPOVERLAPPED overlapped) {
  char path[MAX_PATH];
  DWORD n = GetFinalPathNameByHandleA(h, path, MAX_PATH, FILE_NAME_NORMALIZED);
  bool isShort = n > 10 && n < MAX_PATH && lstrcmpiA(path + n - 10, "\\short.bin") == 0;
  return g_realWriteFile(h, data, isShort ? count / 2 : count, written, overlapped);
}

TEST_F(FileUnpackTest, WriteReportedShorterThanAskedIs157) {
  Carrier(Marker() + Entry("short.bin", "content") + EndEntry());
  ImportSwap<WriteFn> swap(&g_writeFileImport, WriteHalfToShortBin);
  g_realWriteFile = swap.Real();
  EXPECT_EQ(Unpack(0), 157u);
}

// A file's size in its two halves, by either form of its name; no size for a folder or a
// missing name; and a query the system refuses for a file that exists is logged with its
// error (a stand-in, GetFileAttributesExW swapped in this program's import table, refuses
// it as Windows may for a file the caller may not read).
using AttributesExWFn = BOOL(WINAPI*)(LPCWSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
extern "C" AttributesExWFn g_attributesExWImport asm(OLVAN_IMPORT_SLOT(GetFileAttributesExW, 12));
BOOL WINAPI AttributesRefused(LPCWSTR, GET_FILEEX_INFO_LEVELS, LPVOID) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST_F(FileUnpackTest, FileSizeInItsTwoHalves) {
  std::string file = root_ + "\\five.bin";
  WriteFileBytes(file, "12345");
  std::wstring wide(file.begin(), file.end());
  DWORD high = 7, low = 7;
  EXPECT_EQ(utl_GetFileSize(file.c_str(), &high, &low), 1);
  EXPECT_EQ(std::make_pair(high, low), std::make_pair(0ul, 5ul));
  high = low = 7;
  EXPECT_EQ(utl_GetFileSizeW(wide.c_str(), &high, &low), 1);
  EXPECT_EQ(std::make_pair(high, low), std::make_pair(0ul, 5ul));
  EXPECT_EQ(utl_GetFileSize(root_.c_str(), &high, &low), 0);
  EXPECT_EQ(utl_GetFileSize((root_ + "\\none.bin").c_str(), &high, &low), 0);
  ClearLogFolder();
  {
    ImportSwap<AttributesExWFn> swap(&g_attributesExWImport, AttributesRefused);
    EXPECT_EQ(utl_GetFileSizeW(wide.c_str(), &high, &low), 0);
  }
  EXPECT_EQ(ReadLogMessages("stp_UtlFile"),
            std::vector<std::string>{"utl_GetFileSize: GetFileAttributesEx failed with err.5."});
}

TEST_F(FileUnpackTest, ReadAndMixReadsExactlyAndUnmixes) {
  WriteFileBytes(root_ + "\\m.bin", Mixed("abc"));
  HANDLE h = CreateFileA((root_ + "\\m.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  char buf[4] = {};
  EXPECT_EQ(ReadAndMix(h, buf, 3), 1);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(ReadAndMix(h, buf, 1), 0);
  CloseHandle(h);
}

}  // namespace
