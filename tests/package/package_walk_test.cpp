// The walk over a package's entries, on bytes in memory: every outcome and log line.
#include "package/package_walk.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "package/cert_table.h"
#include "package/entry_name.h"
#include "tests/package/package_craft.h"

namespace {

const char kDst[] = "C:\\tmp\\OlvanSetup0";

class MemReader : public PackageReader {
 public:
  explicit MemReader(std::string bytes) : bytes_(std::move(bytes)) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    ++reads_;
    if (failAtRead_ != 0 && reads_ == failAtRead_) {
      *got = 0;
      return false;
    }
    size_t n = std::min<size_t>(count, bytes_.size() - pos_);
    memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    *got = static_cast<uint32_t>(n);
    return true;
  }
  uint32_t LastError() override { return 5; }
  size_t pos_ = 0;
  int reads_ = 0;
  int failAtRead_ = 0;  // the n-th Read call fails (1-based); 0: none

 private:
  std::string bytes_;
};

class RecordTarget : public PackageTarget {
 public:
  bool Open(const char* name, const char* path) override {
    EXPECT_TRUE(IsSafeEntryName(name, static_cast<uint32_t>(strlen(name)))) << name;
    EXPECT_FALSE(open_) << "opened twice without a close";
    opened.push_back(name);
    paths.push_back(path);
    if (refuseOpen) return false;
    open_ = true;
    current = name;
    files[name].clear();  // the unpacker empties an existing file
    return true;
  }
  bool Write(const void* data, uint32_t count) override {
    EXPECT_TRUE(open_);
    if (shortWrites) return false;
    files[current].append(static_cast<const char*>(data), count);
    maxWrite = std::max(maxWrite, count);
    return true;
  }
  void Close() override {
    open_ = false;
    ++closes;
  }
  void Log(const char* line) override { log.push_back(line); }

  std::vector<std::string> opened, paths, log;
  std::map<std::string, std::string> files;
  std::string current;
  bool refuseOpen = false, shortWrites = false;
  uint32_t maxWrite = 0;
  int closes = 0;
  bool open_ = false;
};

struct Outcome {
  int result;
  uint32_t err;
};

Outcome Walk(const std::string& package, RecordTarget& t, const char* dst = kDst,
             MemReader* reader = nullptr) {
  MemReader own(package);
  MemReader& r = reader ? *reader : own;
  uint32_t err = 0;
  int result = WalkPackage(r, static_cast<uint32_t>(package.size()), dst, t, &err);
  EXPECT_FALSE(t.open_) << "a file was left open";
  return {result, err};
}

TEST(Walk, MarkerOnlyUnpacksNothing) {
  RecordTarget t;
  Outcome o = Walk(Marker(), t);
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(t.opened.empty());
  EXPECT_EQ(t.log, std::vector<std::string>{"utl_FileUnpack: dwCurTotalLen = 17"});
}

TEST(Walk, LogLinesOfAWholePackage) {
  RecordTarget t;
  Outcome o = Walk(Marker() + Entry("a.txt", "hello") + EndEntry() + "trailing junk", t);
  ASSERT_EQ(o.result, 1);
  std::vector<std::string> want = {
      "utl_FileUnpack: dwCurTotalLen = 17",
      "utl_FileUnpack: unpack time = 1",
      "utl_FileUnpack: dwBufDataLen = 4 dwCurFileNameLen = 5 sizeof(DWORD) = 4",
      "utl_FileUnpack: dwCurTotalLen = 35",
      "utl_FileUnpack: szDstAbsFile = C:\\tmp\\OlvanSetup0\\a.txt",
      "utl_FileUnpack: unpack time = 2",
      "utl_FileUnpack: dwBufDataLen = 4 dwCurFileNameLen = 11 sizeof(DWORD) = 4",
      "utl_FileUnpack: dwCurTotalLen = 54",
      "utl_FileUnpack: szDstAbsFile = C:\\tmp\\OlvanSetup0\\^Olvan_end^",
      "utl_FileUnpack: The file is end.",
  };
  EXPECT_EQ(t.log, want);
  EXPECT_EQ(t.files["a.txt"], "hello");
  EXPECT_EQ(t.opened, (std::vector<std::string>{"a.txt", "^Olvan_end^"}));
}

TEST(Walk, LastEntryEndingTheCarrierNeedsNoEndEntry) {
  RecordTarget t;
  std::string big = Pattern(kPackageChunk * 2 + 10000);
  Outcome o = Walk(Marker() + Entry("one", "1") + Entry("big.bin", big), t);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(t.files["big.bin"], big);
  EXPECT_EQ(t.maxWrite, kPackageChunk);
}

TEST(Walk, EndEntryStopsEvenWithBytesBehindIt) {
  RecordTarget t;
  MemReader r(Marker() + EndEntry() + Entry("never", "x"));
  std::string all = Marker() + EndEntry() + Entry("never", "x");
  uint32_t err = 0;
  EXPECT_EQ(WalkPackage(r, static_cast<uint32_t>(all.size()), kDst, t, &err), 1);
  EXPECT_EQ(t.opened, std::vector<std::string>{"^Olvan_end^"});
  EXPECT_EQ(r.pos_, Marker().size() + EndEntry().size());
}

TEST(Walk, EndEntryDataIsNotReadButCountsInTheBound) {
  RecordTarget t;
  // Declares 100 data bytes that are not there: past the end.
  Outcome o = Walk(Marker() + RawEntry(11, 100, kPackageEndName, ""), t);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, 163u);
  RecordTarget t2;
  o = Walk(Marker() + RawEntry(11, 3, kPackageEndName, "") + "abc", t2);
  EXPECT_EQ(o.result, 1);
}

TEST(Walk, NameOf64BytesIsAcceptedAnd65Refused) {
  RecordTarget t;
  std::string n64(64, 'n');
  EXPECT_EQ(Walk(Marker() + Entry(n64, "x"), t).result, 1);
  EXPECT_EQ(t.files[n64], "x");
  RecordTarget t2;
  Outcome o = Walk(Marker() + Entry(std::string(65, 'n'), "x"), t2);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, 161u);
  EXPECT_EQ(t2.log.back(), "utl_FileUnpack:Err: 161.");
}

TEST(Walk, EmptyEntryMakesAnEmptyFileAndGoesOn) {
  RecordTarget t;
  EXPECT_EQ(Walk(Marker() + Entry("empty", "") + Entry("next", "n") + EndEntry(), t).result, 1);
  EXPECT_EQ(t.files.count("empty"), 1u);
  EXPECT_EQ(t.files["empty"], "");
  EXPECT_EQ(t.files["next"], "n");
}

TEST(Walk, DataPastTheEndFailsBeforeTheNameIsRead) {
  RecordTarget t;
  std::string pkg = Marker() + Entry("first", "1") + RawEntry(5, 1000, "secnd", "short");
  Outcome o = Walk(pkg, t);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, 163u);
  EXPECT_EQ(t.opened, std::vector<std::string>{"first"});
  EXPECT_EQ(t.files["first"], "1");
  EXPECT_EQ(t.log.back(), "utl_FileUnpack:Err: 163.");
}

TEST(Walk, HugeDataLengthDoesNotWrapTheTotal) {
  RecordTarget t;
  // 17 + 8 + 1 + 0xFFFFFFF0 wraps a 32-bit total to a small number.
  Outcome o = Walk(Marker() + RawEntry(1, 0xFFFFFFF0u, "x", "") + std::string(64, 'p'), t);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, 163u);
  EXPECT_TRUE(t.opened.empty());
}

TEST(Walk, UnmixedMarkerFails160AfterLoggingTheCount) {
  RecordTarget t;
  Outcome o = Walk(std::string(kPackageMarker, 17) + EndEntry(), t);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, 160u);
  EXPECT_EQ(t.log, (std::vector<std::string>{"17", "utl_FileUnpack:Err: 160."}));
}

TEST(Walk, ShortMarkerFails159) {
  RecordTarget t;
  Outcome o = Walk(Marker().substr(0, 16), t);
  EXPECT_EQ(o.err, 159u);
  EXPECT_EQ(t.log, std::vector<std::string>{"utl_FileUnpack:Err: 159."});
}

TEST(Walk, OneToThreeStrayBytesFail161) {
  for (size_t stray = 1; stray <= 3; ++stray) {
    RecordTarget t;
    Outcome o = Walk(Marker() + Entry("a", "b") + std::string(stray, '\x01'), t);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, 161u) << stray;
    EXPECT_EQ(t.files["a"], "b");
    std::string want = "utl_FileUnpack: dwBufDataLen = " + std::to_string(stray);
    EXPECT_EQ(t.log[t.log.size() - 2].substr(0, want.size()), want);
  }
}

TEST(Walk, FourToSevenStrayBytesFail162) {
  for (size_t stray = 4; stray <= 7; ++stray) {
    RecordTarget t;
    Outcome o = Walk(Marker() + Entry("a", "b") + Le32(1) + std::string(stray - 4, '\x02'), t);
    EXPECT_EQ(o.err, 162u) << stray;
  }
}

TEST(Walk, FailedNameLengthReadIsLoggedWithTheSystemError) {
  RecordTarget t;
  std::string pkg = Marker() + Entry("a", "b");
  MemReader r(pkg);
  r.failAtRead_ = 6;  // marker, N, D, name, content, then the next N
  uint32_t err = 0;
  EXPECT_EQ(WalkPackage(r, static_cast<uint32_t>(pkg.size() + 8), kDst, t, &err), 0);
  EXPECT_EQ(err, 161u);
  EXPECT_EQ(t.log[t.log.size() - 2], "utl_FileUnpack: ReadFile failed with err. 5");
}

TEST(Walk, FailedNameReadIs164AndContentReadIs166) {
  std::string pkg = Marker() + Entry("name", "content");
  {
    RecordTarget t;
    MemReader r(pkg);
    r.failAtRead_ = 4;  // marker, N, D, then the name
    uint32_t err = 0;
    EXPECT_EQ(WalkPackage(r, static_cast<uint32_t>(pkg.size()), kDst, t, &err), 0);
    EXPECT_EQ(err, 164u);
    EXPECT_TRUE(t.opened.empty());
  }
  {
    RecordTarget t;
    MemReader r(pkg);
    r.failAtRead_ = 5;  // the first content chunk
    uint32_t err = 0;
    EXPECT_EQ(WalkPackage(r, static_cast<uint32_t>(pkg.size()), kDst, t, &err), 0);
    EXPECT_EQ(err, 166u);
    EXPECT_EQ(t.closes, 1);
  }
}

TEST(Walk, ShortWriteFails157) {
  RecordTarget t;
  t.shortWrites = true;
  Outcome o = Walk(Marker() + Entry("a", "data"), t);
  EXPECT_EQ(o.err, 157u);
  EXPECT_EQ(t.log.back(), "utl_FileUnpack:Err: 157.");
}

TEST(Walk, UnopenableFileFails165ButTheEndEntryDoesNot) {
  RecordTarget t;
  t.refuseOpen = true;
  EXPECT_EQ(Walk(Marker() + EndEntry(), t).result, 1);
  RecordTarget t2;
  t2.refuseOpen = true;
  Outcome o = Walk(Marker() + Entry("a", "b"), t2);
  EXPECT_EQ(o.err, 165u);
}

TEST(Walk, RefusedNamesFail165BeforeAnythingIsCreated) {
  for (const char* bad : {"..\\evil.exe", "..", "sub/file", "C:evil", "CON", "nul.txt", "a\x01",
                          "bad?", "dot.", ""}) {
    RecordTarget t;
    Outcome o = Walk(Marker() + Entry("ok", "1") + Entry(bad, "payload"), t);
    EXPECT_EQ(o.result, 0) << bad;
    EXPECT_EQ(o.err, 165u) << bad;
    EXPECT_EQ(t.opened, std::vector<std::string>{"ok"}) << bad;
    ASSERT_GE(t.log.size(), 2u);
    EXPECT_EQ(t.log[t.log.size() - 2], "utl_FileUnpack: entry name refused, dwCurFileNameLen = " +
                                           std::to_string(strlen(bad)))
        << bad;
    EXPECT_EQ(t.log.back(), "utl_FileUnpack:Err: 165.");
  }
}

TEST(Walk, DestinationPathReaching260Fails161) {
  std::string dst(250, 'd');
  RecordTarget t;
  EXPECT_EQ(Walk(Marker() + Entry("123456789", "x"), t, dst.c_str()).result, 1);
  RecordTarget t2;
  Outcome o = Walk(Marker() + Entry("1234567890", "x"), t2, dst.c_str());
  EXPECT_EQ(o.err, 161u);
}

// The bound itself, before the data length is read: an entry whose data runs past the end
// fails 163 once its name passed the bound, and 161 when folder and name reach 260.
TEST(Walk, PathBoundOf260IsCheckedRightAfterTheNameLength) {
  std::string dst(250, 'd');
  RecordTarget t;
  EXPECT_EQ(Walk(Marker() + RawEntry(9, 0xFFFFFF00u, "123456789", ""), t, dst.c_str()).err, 163u);
  RecordTarget t2;
  EXPECT_EQ(Walk(Marker() + RawEntry(10, 0xFFFFFF00u, "1234567890", ""), t2, dst.c_str()).err,
            161u);
}

TEST(Walk, NamingOneFileTwiceLeavesTheSecondContent) {
  RecordTarget t;
  EXPECT_EQ(Walk(Marker() + Entry("f", "long first content") + Entry("f", "2nd"), t).result, 1);
  EXPECT_EQ(t.files["f"], "2nd");
}

TEST(Walk, NullErrorPointerIsAllowed) {
  RecordTarget t;
  MemReader r("junk");
  EXPECT_EQ(WalkPackage(r, 4, kDst, t, nullptr), 0);
}

}  // namespace

namespace {

// The digest that the walk takes in passing: the stored bytes through the end entry's name
// (its data and what follows are not read), or all of a package without an end entry.
TEST(Walk, DigestCoversTheStoredBytesThroughTheEndEntry) {
  const std::string withEnd = Marker() + Entry("a.bin", Pattern(kPackageChunk + 77)) + EndEntry();
  const std::string noEnd = Marker() + Entry("a.bin", Pattern(1000, 3));
  const std::string markerOnly = Marker();
  struct Case {
    std::string package;  // what the carrier holds from the offset on
    std::string covered;  // what the digest must cover
  } cases[] = {
      {withEnd + RawEntry(0, 5, "", "") + "behind", withEnd},
      {noEnd, noEnd},
      {markerOnly, markerOnly},
  };
  for (const Case& c : cases) {
    RecordTarget t;
    MemReader r(c.package);
    Sha256 digest;
    Sha256Init(&digest);
    uint32_t err = 0;
    ASSERT_EQ(WalkPackage(r, static_cast<uint32_t>(c.package.size()), kDst, t, &err,
                          kEntryNameDefaultCodePage, &digest),
              1);
    unsigned char got[kSha256Len], want[kSha256Len];
    Sha256Final(&digest, got);
    Sha256Digest(c.covered.data(), c.covered.size(), want);
    EXPECT_EQ(0, memcmp(got, want, kSha256Len)) << "package of " << c.package.size() << " bytes";
  }
}

// The certificate table named by a carrier's header, read from hostile bytes: a header that
// is not a whole PE header naming directory 4 sets no limit, and each bound is exact. The
// stub's table starts 0x50 bytes into a package of 0x100 bytes at 0x100.
CertLimit Limit(const std::string& head, uint32_t offset = 0x100, uint32_t len = 0x100) {
  return PackageCertLimit(reinterpret_cast<const unsigned char*>(head.data()),
                          static_cast<uint32_t>(head.size()), offset, len);
}

TEST(CertLimit, OnlyAWholeHeaderNamingTheTableSetsALimit) {
  for (bool plus : {false, true}) {
    const std::string stub = PeStub(0x200, 0x150, 0x20, plus);
    const size_t count = 0x58 + (plus ? 108 : 92);  // where the directory count lies
    CertLimit whole = Limit(stub);
    EXPECT_FALSE(whole.inside);
    EXPECT_EQ(whole.readable, 0x50u) << plus;
    EXPECT_EQ(whole.tableAt, 0x150u);
    // Exactly long enough to hold directory 4, and five directories: still a limit.
    EXPECT_EQ(Limit(stub.substr(0, count + 4 + 5 * 8)).readable, 0x50u) << plus;
    std::string five = stub;
    five.replace(count, 4, Le32(5));
    EXPECT_EQ(Limit(five).readable, 0x50u) << plus;

    auto changed = [&](size_t at, const std::string& bytes) {
      std::string b = stub;
      b.replace(at, bytes.size(), bytes);
      return b;
    };
    const std::pair<const char*, std::string> none[] = {
        {"shorter than a DOS header", stub.substr(0, 0x3f)},
        {"no MZ", changed(0, "MX")},
        {"header offset past the bytes", changed(0x3c, Le32(0x200 - 25))},
        {"no PE signature", changed(0x40, std::string("PE\0\1", 4))},
        {"unknown optional header", changed(0x58, std::string("\x0c\x01", 2))},
        {"four directories: none is the table", changed(count, Le32(4))},
        {"cut inside directory 4", stub.substr(0, count + 4 + 5 * 8 - 1)},
        {"table of no size", changed(count + 4 + 4 * 8 + 4, Le32(0))},
    };
    for (const auto& c : none) {
      CertLimit l = Limit(c.second);
      EXPECT_EQ(l.readable, kNoCertLimit) << c.first << " " << plus;
      EXPECT_FALSE(l.inside) << c.first;
    }
  }
}

TEST(CertLimit, TableBoundsAgainstThePackageAreExact) {
  struct Row {
    uint32_t at, size;
    bool inside;
    uint32_t readable;
  } rows[] = {
      {0x100, 0x10, true, 0},              // starts where the package starts
      {0xf0, 0x11, true, 0},               // ends one byte into it
      {0xf0, 0x10, false, kNoCertLimit},   // ends where it starts
      {0x101, 0x10, false, 1},             // one byte in
      {0x1ff, 0x10, false, 0xff},          // at its last byte
      {0x200, 0x10, false, kNoCertLimit},  // right behind it
  };
  for (const Row& r : rows) {
    CertLimit l = Limit(PeStub(0x200, r.at, r.size));
    EXPECT_EQ(l.inside, r.inside) << std::hex << r.at << "+" << r.size;
    EXPECT_EQ(l.readable, r.readable) << std::hex << r.at << "+" << r.size;
    EXPECT_EQ(l.tableAt, r.at);
  }
}

}  // namespace
