// Round trip: carriers built by the release tool's code are read back by the walk that
// Setup.exe runs; build input that Setup.exe could not unpack is refused.
#include "tools/olvpack/carrier.h"

#include <stdlib.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "package/digest_slot.h"
#include "package/package_format.h"
#include "package/package_writer.h"
#include "tests/package/package_craft.h"
#include "tools/olvpack/carrier_digest.h"
#include "tools/olvpack/sign.h"
#include "tools/olvpack/signature.h"

namespace fs = std::filesystem;

namespace {

class CarrierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("olvan_carrier_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "payload");
    fs::create_directories(root_ / "out");
    Write("stub.exe", std::string(30720, 'M'));
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(const fs::path& rel, const std::string& bytes) {
    std::ofstream(root_ / rel, std::ios::binary) << bytes;
  }
  std::string Read(const fs::path& rel) {
    std::ifstream f(root_ / rel, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  std::string P(const fs::path& rel) { return (root_ / rel).string(); }
  // Runs the olvpack program in the test's folder, env (such as "PATH=... ") before it;
  // what it prints, stdout then stderr, goes to *out.
  int Olvpack(const std::string& args, std::string* out, const std::string& env = "") {
    int rc = std::system(("cd '" + root_.string() + "' && " + env + "'" OLVPACK_PROGRAM "' " +
                          args + " >out.txt 2>err.txt")
                             .c_str());
    *out = Read("out.txt") + Read("err.txt");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  fs::path root_;
};

TEST_F(CarrierTest, BuildThenWalkGivesEveryFileBack) {
  Write("payload/7za.exe", Pattern(70000, 1));
  Write("payload/Qt.7z", Pattern(4096, 2));
  Write("payload/Portal-cfg.xml", "<cfg/>");
  Write("payload/empty.txt", "");
  Write("payload/b-4097.bin", Pattern(4097, 3));
  BuildResult b = BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("Setup.exe"));
  ASSERT_TRUE(b.ok) << b.message;
  std::string carrier = Read("Setup.exe");
  EXPECT_EQ(carrier.size(), b.carrierSize);
  EXPECT_EQ(carrier.substr(0, 30720), std::string(30720, 'M'));
  EXPECT_EQ(carrier.substr(30720, kExeCarrierOffset - 30720),
            std::string(kExeCarrierOffset - 30720, '\0'));
  EXPECT_EQ(carrier.substr(kExeCarrierOffset, 17), Marker());

  ReadResult r = ReadCarrier(P("Setup.exe"), kExeCarrierOffset, P("out"));
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(r.sawEnd);
  // Byte order of names: upper case before lower case.
  std::vector<std::string> names;
  for (const PackEntry& e : r.entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"7za.exe", "Portal-cfg.xml", "Qt.7z", "b-4097.bin",
                                             "empty.txt"}));
  for (const std::string& n : names) EXPECT_EQ(Read("out/" + n), Read("payload/" + n)) << n;
}

TEST_F(CarrierTest, MsiCarrierAtItsOwnOffset) {
  Write("payload/x", "y");
  Write("stub.msi", std::string(1000000, 'D'));
  BuildResult b = BuildCarrier(P("stub.msi"), P("payload"), kMsiCarrierOffset, P("c.msi"));
  ASSERT_TRUE(b.ok) << b.message;
  EXPECT_TRUE(ReadCarrier(P("c.msi"), kMsiCarrierOffset, "").ok);
  ReadResult wrong = ReadCarrier(P("c.msi"), kExeCarrierOffset, "");
  EXPECT_FALSE(wrong.ok);
  EXPECT_EQ(wrong.error, 160u);
}

TEST_F(CarrierTest, StubReachingTheOffsetIsRefused) {
  Write("payload/x", "y");
  Write("big.exe", std::string(kExeCarrierOffset, 'M'));
  BuildResult b = BuildCarrier(P("big.exe"), P("payload"), kExeCarrierOffset, P("o.exe"));
  EXPECT_FALSE(b.ok);
  EXPECT_NE(b.message.find("reaches the package offset 530000"), std::string::npos) << b.message;
  EXPECT_FALSE(fs::exists(root_ / "o.exe"));
  Write("fits.exe", std::string(kExeCarrierOffset - 1, 'M'));
  EXPECT_TRUE(BuildCarrier(P("fits.exe"), P("payload"), kExeCarrierOffset, P("o.exe")).ok);
}

TEST_F(CarrierTest, PayloadThatSetupCannotUnpackIsRefused) {
  struct Case {
    const char* file;
    const char* why;
  } cases[] = {
      {"CON.txt", "refuses"},
      {"trailing.", "refuses"},
      {"^Olvan_end^", "end entry"},
      {"caf\xc3\xa9.txt", "ASCII"},
      {"n123456789012345678901234567890123456789012345678901234567890123456", "64 bytes"},
  };
  for (const Case& c : cases) {
    fs::remove_all(root_ / "payload");
    fs::create_directories(root_ / "payload");
    Write(fs::path("payload") / c.file, "x");
    BuildResult b = BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("o.exe"));
    EXPECT_FALSE(b.ok) << c.file;
    EXPECT_NE(b.message.find(c.why), std::string::npos) << b.message;
  }
  fs::remove_all(root_ / "payload");
  fs::create_directories(root_ / "payload/sub");
  EXPECT_NE(ScanPayload(P("payload")).message.find("folder"), std::string::npos);
  fs::remove_all(root_ / "payload");
  fs::create_directories(root_ / "payload");
  Write("payload/Data.xml", "1");
  Write("payload/data.XML", "2");
  EXPECT_NE(ScanPayload(P("payload")).message.find("case"), std::string::npos);
}

// The writer refuses such names itself, whatever its caller checked, and writes nothing.
TEST(PackageWriter, RefusesNamesThatSetupRefuses) {
  struct StringSink : PackageSink {
    bool Put(const void* data, uint32_t count) override {
      bytes.append(static_cast<const char*>(data), count);
      return true;
    }
    std::string bytes;
  } sink;
  for (const char* bad : {"..\\x", "a/b", "CON", "C:x", "dot.", ""}) {
    EXPECT_FALSE(WritePackageEntryHead(sink, bad, 1)) << bad;
  }
  EXPECT_EQ(sink.bytes, "");
}

TEST_F(CarrierTest, EmptyPayloadGivesMarkerAndEndEntry) {
  BuildResult b = BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("e.exe"));
  ASSERT_TRUE(b.ok) << b.message;
  EXPECT_EQ(Read("e.exe").substr(kExeCarrierOffset), Marker() + EndEntry());
}

TEST_F(CarrierTest, ReadingReportsTheUnpackerErrors) {
  Write("payload/a", "abc");
  ASSERT_TRUE(BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("s.exe")).ok);
  std::string c = Read("s.exe");
  Write("cut.exe", c.substr(0, c.size() - 10));  // into the end entry's name
  ReadResult r = ReadCarrier(P("cut.exe"), kExeCarrierOffset, "");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, 163u);
  Write("short.exe", c.substr(0, kExeCarrierOffset));
  EXPECT_EQ(ReadCarrier(P("short.exe"), kExeCarrierOffset, "").error, 155u);
}

// Where MinimalPe puts the digest slot: none, among the code section's bytes (as the linker
// places it today), or in a section of its own after the code (earlier programs).
enum class Slot { kNone, kInSection, kOwnSection };

// The smallest PE32 image that signing tools accept: headers and one section, with slot.
std::string MinimalPe(Slot slot = Slot::kNone) {
  const bool own = slot == Slot::kOwnSection;
  std::string b(own ? 0x600 : 0x400, '\0');
  auto put16 = [&](size_t at, unsigned v) { b[at] = char(v), b[at + 1] = char(v >> 8); };
  auto put32 = [&](size_t at, uint32_t v) {
    StoreLe32(reinterpret_cast<unsigned char*>(&b[at]), v);
  };
  b[0] = 'M', b[1] = 'Z';
  put32(0x3c, 0x40);
  b.replace(0x40, 4, std::string("PE\0\0", 4));
  put16(0x44, 0x14c), put16(0x46, own ? 2 : 1), put16(0x54, 0xE0), put16(0x56, 0x0102);
  const size_t o = 0x58;  // optional header
  put16(o, 0x10b), put32(o + 16, 0x1000), put32(o + 28, 0x400000);
  put32(o + 32, 0x1000), put32(o + 36, 0x200), put16(o + 40, 4), put16(o + 48, 4);
  put32(o + 56, 0x2000), put32(o + 60, 0x200), put16(o + 68, 2), put32(o + 92, 16);
  const size_t sec = o + 0xE0;
  b.replace(sec, 5, ".text");
  put32(sec + 8, 0x200), put32(sec + 12, 0x1000), put32(sec + 16, 0x200), put32(sec + 20, 0x200);
  put32(sec + 36, 0x60000020);
  if (own) {
    b.replace(sec + 40, kDigestSlotSectionLen, kDigestSlotSection);
    put32(sec + 48, kDigestSlotLen), put32(sec + 52, 0x2000), put32(sec + 56, 0x200);
    put32(sec + 60, 0x400), put32(sec + 76, 0x40000040), put32(o + 56, 0x3000);
    b.replace(0x400, kDigestSlotMarkerLen, kDigestSlotMarker);
  } else if (slot == Slot::kInSection) {
    b.replace(0x300, kDigestSlotMarkerLen, kDigestSlotMarker);
  }
  return b;
}

TEST_F(CarrierTest, SignTakesOneKindOfKey) {
  Write("payload/a", "abc");
  ASSERT_TRUE(BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("s.exe")).ok);
  Write("k.p12", "p"), Write("k.crt", "c"), Write("k.key", "k");
  SignRequest req;
  req.carrier = P("s.exe");
  req.name = "Olvan Setup";
  req.pkcs12 = P("k.p12");
  for (auto both : {&SignRequest::cert, &SignRequest::key}) {
    SignRequest r = req;
    r.*both = P(both == &SignRequest::cert ? "k.crt" : "k.key");
    EXPECT_EQ(SignCarrier(r).exitCode, 2);
  }
}

// A signing step that loses the carrier's last bytes yet reports success (a fake: a
// faulty signing tool cannot be made to misbehave on purpose): the walk of the result,
// compared with the unsigned carrier's, refuses it.
TEST_F(CarrierTest, SignRefusesASignedCarrierThatLostItsTail) {
  Write("payload/a", Pattern(5000, 4));
  Write("payload/b", "abc");
  ASSERT_TRUE(BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("s.exe")).ok);
  Write("cut-signer",
        "#!/bin/sh\n[ \"$1\" = sign ] || exit 0\n"
        "while [ $# -gt 0 ]; do case $1 in -in) in=$2;; -out) out=$2;; esac; shift; done\n"
        "head -c -20 \"$in\" > \"$out\"\n");
  fs::permissions(root_ / "cut-signer", fs::perms::owner_all);
  Write("k.p12", "p");
  SignRequest req;
  req.carrier = P("s.exe");
  req.output = P("signed.exe");
  req.name = "Olvan Setup";
  req.pkcs12 = P("k.p12");
  req.tool = P("cut-signer");
  req.unbound = true;
  SignResult r = SignCarrier(req);
  EXPECT_EQ(r.exitCode, 1) << r.message;
  EXPECT_FALSE(fs::exists(root_ / "signed.exe"));
}

// What builds without a word and fails only on the target machine is refused, naming what
// is wrong; --allow-incomplete (tests, stand-ins) lets it through with the same lines as
// warnings.
TEST_F(CarrierTest, BuildRefusesAPayloadOrStubThatCannotWork) {
  Write("pe.exe", MinimalPe(Slot::kInSection));
  Write("msi.msi", std::string("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8) + std::string(5000, 'D'));
  const char* const kWhole[] = {"wexApxSvr.exe", "OlvanSetup.exe", "7za.exe", "Qt.7z",
                                "tool.7z", "UrlCmdCustomCfg.7z"};
  auto payload = [&](std::vector<std::string> names) {
    fs::remove_all(root_ / "payload");
    fs::create_directories(root_ / "payload");
    for (const std::string& n : names) Write("payload/" + n, n);
  };
  std::string out;
  payload({kWhole, kWhole + 6});
  Write("payload/Extra.7z", "x");
  EXPECT_EQ(Olvpack("build --stub pe.exe --payload payload --output S.exe", &out), 0) << out;
  EXPECT_NE(out.find("warning: Extra.7z stays packed"), std::string::npos) << out;
  EXPECT_EQ(Olvpack("build --stub msi.msi --payload payload --output S.msi --msi", &out), 0);
  // Names are compared as Windows compares them.
  payload({"WEXAPXSVR.EXE", "olvansetup.exe", "7ZA.exe", "qt.7Z"});
  EXPECT_EQ(Olvpack("build --stub pe.exe --payload payload --output S.exe", &out), 0) << out;
  EXPECT_EQ(out.find("warning"), std::string::npos) << out;

  for (int drop = 0; drop < 3; ++drop) {
    for (const char* msi : {"", " --msi"}) {
      std::vector<std::string> names;
      for (int i = 0; i < 6; ++i)
        if (i != drop) names.push_back(kWhole[i]);
      payload(names);
      SCOPED_TRACE(std::string(kWhole[drop]) + msi);
      fs::remove(root_ / "O.exe");
      std::string build = std::string("build --stub ") + (*msi ? "msi.msi" : "pe.exe") +
                          " --payload payload --output O.exe" + msi;
      EXPECT_EQ(Olvpack(build, &out), 1) << out;
      EXPECT_NE(out.find(std::string("the payload lacks ") + kWhole[drop]), std::string::npos)
          << out;
      EXPECT_FALSE(fs::exists(root_ / "O.exe"));
      EXPECT_EQ(Olvpack(build + " --allow-incomplete", &out), 0) << out;
      EXPECT_NE(out.find(std::string("warning: the payload lacks ") + kWhole[drop]),
                std::string::npos);
    }
  }
  // 7za.exe is needed by each archive that Setup.exe extracts, by no other file.
  for (int archive = 3; archive < 6; ++archive) {
    payload({"wexApxSvr.exe", "OlvanSetup.exe", kWhole[archive]});
    EXPECT_EQ(Olvpack("build --stub pe.exe --payload payload --output O.exe", &out), 1) << out;
    EXPECT_NE(out.find(std::string("lacks 7za.exe, the 32-bit 7-Zip console that extracts ") +
                       kWhole[archive]),
              std::string::npos)
        << out;
  }
  payload({"wexApxSvr.exe", "OlvanSetup.exe", "Other.7z"});
  EXPECT_EQ(Olvpack("build --stub pe.exe --payload payload --output O.exe", &out), 0) << out;

  // The stub's kind, by the offset.
  payload({kWhole, kWhole + 6});
  struct {
    const char* args;
    int code;
    const char* says;
  } stubs[] = {
      {"--stub stub.exe", 1, "stub stub.exe is not a Windows program (PE image)"},
      {"--stub msi.msi", 1, "stub msi.msi is not a Windows program (PE image)"},
      {"--stub pe.exe --msi", 1, "stub pe.exe is not an MSI package"},
      {"--stub stub.exe --msi", 1, "stub stub.exe is not an MSI package"},
      {"--stub stub.exe --offset 600000", 0, ""},
      {"--stub nodigest.exe", 0, "warning: the stub has no digest slot"},
  };
  Write("nodigest.exe", MinimalPe(Slot::kNone));
  for (const auto& c : stubs) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(Olvpack(std::string("build ") + c.args + " --payload payload --output O.exe", &out),
              c.code)
        << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    if (c.code != 0) {
      EXPECT_EQ(Olvpack(std::string("build ") + c.args +
                            " --payload payload --output O.exe --allow-incomplete",
                        &out),
                0)
          << out;
    }
  }

  EXPECT_EQ(Olvpack("build --stub pe.exe --payload payload --output dist/S.exe", &out), 3);
  EXPECT_NE(out.find("output folder not found: dist (create it first)"), std::string::npos) << out;
  EXPECT_EQ(Olvpack("--help", &out), 0);
  EXPECT_NE(out.find("The payload must hold wexApxSvr.exe"), std::string::npos) << out;
}

// The program's slot gets the digest of the package it carries, the checksum is set again,
// and a package changed afterwards no longer reads as the program's (Setup.exe: 167); the
// slot of earlier programs, in a section of its own, as well.
// Stamping needs Setup.exe: a slot (whose checksum olvpack sets again) and a version record
// with room. The version record's own reading and stamping run on the real Setup.exe under
// Wine (version_stamp_test.py).
TEST_F(CarrierTest, VersionIsStampedIntoSetupStubsOnly) {
  Write("payload/wexApxSvr.exe", "a");
  Write("payload/OlvanSetup.exe", "b");
  Write("noslot.exe", MinimalPe(Slot::kNone));
  Write("slot.exe", MinimalPe(Slot::kInSection));
  std::string out;
  EXPECT_EQ(Olvpack("build --stub noslot.exe --payload payload --output O.exe --version 1.2.3.4",
                    &out),
            1);
  EXPECT_NE(out.find("--version needs a Setup.exe stub (one with a digest slot)"),
            std::string::npos)
      << out;
  EXPECT_EQ(
      Olvpack("build --stub slot.exe --payload payload --output O.exe --version 1.2.3.4", &out), 1);
  EXPECT_NE(out.find("has no version record"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(root_ / "O.exe"));
  Version v;
  EXPECT_TRUE(ParseVersion("0.65535.10.9", &v));
  EXPECT_EQ(VersionText(v), "0.65535.10.9");
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.65536", "1.2.3.1000000", "1.2.+3.4",
                          "1.2.3. 4", "1.2.3.4 "})
    EXPECT_FALSE(ParseVersion(bad, &v)) << bad;
}

TEST_F(CarrierTest, BuildBindsTheProgramToItsPackage) {
  Write("payload/7za.exe", Pattern(70000, 1));
  for (Slot layout : {Slot::kInSection, Slot::kOwnSection}) {
    SCOPED_TRACE(layout == Slot::kInSection ? "in a section" : "own section");
    Write("stub.exe", MinimalPe(layout));
    BuildResult b = BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("Setup.exe"));
    ASSERT_TRUE(b.ok && b.bound) << b.message;
    const std::string c = Read("Setup.exe");
    unsigned char want[kSha256Len];
    Sha256Digest(c.data() + kExeCarrierOffset, c.size() - kExeCarrierOffset, want);
    DigestSlot slot = ReadDigestSlot(P("Setup.exe"));
    ASSERT_TRUE(slot.bound);
    EXPECT_EQ(slot.digestAt, layout == Slot::kInSection ? 0x310u : 0x410u);
    EXPECT_EQ(DigestHex(slot.digest), DigestHex(want));
    uint32_t sum = 0;
    ASSERT_TRUE(PeChecksum(P("Setup.exe"), slot.checksumAt, &sum));
    EXPECT_EQ(sum, LoadLe32(reinterpret_cast<const unsigned char*>(c.data()) + slot.checksumAt));
    ReadResult r = ReadCarrier(P("Setup.exe"), kExeCarrierOffset, "");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(DigestHex(r.digest), DigestHex(want));

    std::string changed = c;
    changed[kExeCarrierOffset + 100] ^= 1;  // inside 7za.exe's content
    Write("Changed.exe", changed);
    r = ReadCarrier(P("Changed.exe"), kExeCarrierOffset, "");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, 167u);
    // The same package behind a program that holds no digest reads as before.
    changed.replace(slot.digestAt, kSha256Len, std::string(kSha256Len, '\0'));
    Write("Unbound.exe", changed);
    EXPECT_TRUE(ReadCarrier(P("Unbound.exe"), kExeCarrierOffset, "").ok);
  }
}

// A slot found by its marker is taken only when the marker occurs once in the image, with
// the whole slot inside the section; the marker in the package behind the image (a payload
// file that is itself a program) is no slot.
TEST_F(CarrierTest, SlotMarkerCountsOnlyOnceInTheImage) {
  std::string pe = MinimalPe(Slot::kInSection);
  Write("payload/inner.exe", pe);
  Write("stub.exe", MinimalPe());
  ASSERT_TRUE(BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("c.exe")).ok);
  EXPECT_FALSE(ReadDigestSlot(P("c.exe")).found);
  EXPECT_TRUE(ReadDigestSlot(P("payload/inner.exe")).found);

  std::string twice = pe;
  twice.replace(0x380, kDigestSlotMarkerLen, kDigestSlotMarker);
  Write("twice.exe", twice);
  EXPECT_FALSE(ReadDigestSlot(P("twice.exe")).found);
  BuildResult b = BuildCarrier(P("twice.exe"), P("payload"), kExeCarrierOffset, P("t.exe"));
  EXPECT_TRUE(b.ok && !b.bound);

  // A second marker with one byte too few after it for the whole slot.
  std::string cut = pe;
  cut.replace(0x400 - kDigestSlotLen + 1, kDigestSlotMarkerLen, kDigestSlotMarker);
  Write("cut.exe", cut);
  EXPECT_FALSE(ReadDigestSlot(P("cut.exe")).found);
}

// The PE checksum as the image loader defines it, written out independently of PeChecksum:
// 16-bit words summed with their carries, the checksum field left out, then the length.
uint32_t LoaderChecksum(const std::string& b, size_t field) {
  uint64_t s = 0;
  for (size_t i = 0; i < b.size(); i += 2) {
    if (i == field || i == field + 2) continue;
    s += static_cast<unsigned char>(b[i]) |
         (i + 1 < b.size() ? static_cast<unsigned char>(b[i + 1]) : 0u) << 8;
  }
  while (s >> 16) s = (s & 0xffff) + (s >> 16);
  return static_cast<uint32_t>(s + b.size());
}

// An earlier Setup.exe (its slot in a section of its own), changed by one case of the table
// below at a time.
// In MinimalPe, the number of data directories is at 0xB4, the certificate table's entry
// at 0xD8, the slot section's SizeOfRawData at 0x1A8.
struct PeCase {
  const char* what;
  void (*change)(std::string& carrier, uint64_t packageEnd);
  uint32_t signatureBytes;  // what ReadCarrier finds after the package
  bool isPe;                // whether DigestCarrier takes it as a PE image
  bool certTableLeftOut;    // whether the authenticode digest leaves the tail out
  uint32_t readError;       // what ReadCarrier refuses it with (0: it reads)
};
void PutLe32(std::string& b, size_t at, uint32_t v) {
  StoreLe32(reinterpret_cast<unsigned char*>(&b[at]), v);
}
const PeCase kPeCases[] = {
    {"a certificate table right after the package",
     [](std::string& b, uint64_t end) {
       b.append(16, 'S');
       PutLe32(b, 0xD8, static_cast<uint32_t>(end)), PutLe32(b, 0xDC, 16);
     },
     16, true, true, 0},
    {"the same with only four data directories",
     [](std::string& b, uint64_t end) {
       b.append(16, 'S');
       PutLe32(b, 0xD8, static_cast<uint32_t>(end)), PutLe32(b, 0xDC, 16);
       PutLe32(b, 0xB4, 4);
     },
     0, false, false, 0},
    {"a certificate table pointing into the headers",
     [](std::string& b, uint64_t) {
       PutLe32(b, 0xD8, 0x80), PutLe32(b, 0xDC, static_cast<uint32_t>(b.size() - 0x80));
     },
     // Setup.exe reads no package out of a certificate table.
     0, true, false, 168},
};

TEST_F(CarrierTest, PeHeadersOfTheCarrier) {
  // 400,000 bytes of 0xFE behind the sections: their words' sum needs its carries folded
  // more than once.
  Write("stub.exe", MinimalPe(Slot::kOwnSection) + std::string(400000, '\xfe'));
  Write("payload/7za.exe", Pattern(70000, 1));
  BuildResult built = BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("c.exe"));
  ASSERT_TRUE(built.ok && built.bound) << built.message;
  const std::string carrier = Read("c.exe");
  const size_t checksumAt = 0x58 + 64;
  EXPECT_EQ(LoaderChecksum(carrier, checksumAt),
            LoadLe32(reinterpret_cast<const unsigned char*>(carrier.data()) + checksumAt));
  const uint64_t packageEnd = ReadCarrier(P("c.exe"), kExeCarrierOffset, "").packageEnd;
  ASSERT_NE(packageEnd, 0u);

  for (const PeCase& c : kPeCases) {
    std::string b = carrier;
    c.change(b, packageEnd);
    Write("case.exe", b);
    ReadResult r = ReadCarrier(P("case.exe"), kExeCarrierOffset, "");
    EXPECT_EQ(r.ok, c.readError == 0) << c.what << ": " << r.message;
    EXPECT_EQ(r.error, c.readError) << c.what;
    EXPECT_EQ(r.signatureBytes, c.signatureBytes) << c.what;
    CarrierDigests d = DigestCarrier(P("case.exe"));
    ASSERT_TRUE(d.ok) << c.what;
    EXPECT_EQ(d.isPe, c.isPe) << c.what;
    if (!c.isPe) continue;
    // The image without the checksum and the certificate entry (and the table when it is
    // left out), padded with zeros to a multiple of 8 bytes.
    std::string image = b.substr(0, checksumAt) + b.substr(checksumAt + 4, 0xD8 - checksumAt - 4) +
                        b.substr(0xD8 + 8, (c.certTableLeftOut ? packageEnd : b.size()) - 0xE0);
    image.append((8 - (image.size() + 12) % 8) % 8, '\0');
    unsigned char want[kSha256Len];
    Sha256Digest(image.data(), image.size(), want);
    EXPECT_EQ(DigestHex(d.authenticode), DigestHex(want)) << c.what;
  }

  // A slot section shorter than the slot is no slot: the stub is not bound.
  std::string stub = MinimalPe(Slot::kOwnSection);
  PutLe32(stub, 0x58 + 0xE0 + 40 + 16, kDigestSlotMarkerLen);
  Write("short-slot.exe", stub);
  EXPECT_FALSE(ReadDigestSlot(P("short-slot.exe")).found);
  BuildResult r = BuildCarrier(P("short-slot.exe"), P("payload"), kExeCarrierOffset, P("s.exe"));
  EXPECT_TRUE(r.ok && !r.bound) << r.message;
}

// A program and an MSI package built from one payload folder carry one package, which the
// program vouches for in either carrier; an MSI package of another payload it refuses.
TEST_F(CarrierTest, ProgramVouchesForTheMsiOfItsOwnPayloadOnly) {
  Write("stub.exe", MinimalPe(Slot::kInSection));
  Write("msi.stub", "MSI database");
  Write("payload/7za.exe", Pattern(7000, 1));
  ASSERT_TRUE(BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("Setup.exe")).ok);
  ASSERT_TRUE(BuildCarrier(P("msi.stub"), P("payload"), kMsiCarrierOffset, P("Own.msi")).ok);
  Write("payload/7za.exe", Pattern(7000, 2));
  ASSERT_TRUE(BuildCarrier(P("msi.stub"), P("payload"), kMsiCarrierOffset, P("Other.msi")).ok);
  ReadResult own = ReadCarrier(P("Own.msi"), kMsiCarrierOffset, "");
  ASSERT_TRUE(CheckAgainstProgram(&own, P("Setup.exe")));
  EXPECT_TRUE(own.ok && own.slot.bound) << own.message;
  ReadResult other = ReadCarrier(P("Other.msi"), kMsiCarrierOffset, "");
  ASSERT_TRUE(CheckAgainstProgram(&other, P("Setup.exe")));
  EXPECT_EQ(other.error, 167u);
  EXPECT_FALSE(CheckAgainstProgram(&other, P("msi.stub")));
  ReadResult any = ReadCarrier(P("Other.msi"), kMsiCarrierOffset, "");
  ASSERT_TRUE(CheckAgainstProgram(&any, P("stub.exe")));  // a slot that holds no digest
  EXPECT_TRUE(any.ok && !any.slot.bound);
}

// The walk reads nothing of a signature's certificate table (168), and sign refuses a
// program that is not bound to its package unless told otherwise.
TEST_F(CarrierTest, PackageInTheSignatureIs168AndUnboundProgramsAreNotSigned) {
  const std::string pkg = Marker() + Entry("a", "abc") + EndEntry();
  const uint32_t len = static_cast<uint32_t>(pkg.size());
  Write("in.exe", PeStub(kExeCarrierOffset, kExeCarrierOffset - 8, len + 8) + pkg);
  EXPECT_EQ(ReadCarrier(P("in.exe"), kExeCarrierOffset, "").error, 168u);
  Write("into.exe", PeStub(kExeCarrierOffset, kExeCarrierOffset + 20, len - 20) + pkg);
  EXPECT_EQ(ReadCarrier(P("into.exe"), kExeCarrierOffset, "").error, 168u);

  Write("payload/a", "abc");
  ASSERT_TRUE(BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("s.exe")).ok);
  Write("k.p12", "p");
  SignRequest req;
  req.carrier = P("s.exe");
  req.name = "Olvan Setup";
  req.pkcs12 = P("k.p12");
  req.tool = P("no-such-signer");
  SignResult r = SignCarrier(req);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.message.find("not bound"), std::string::npos) << r.message;
  req.unbound = true;
  EXPECT_EQ(SignCarrier(req).exitCode, 3);  // on to the signer, which is missing
}

// Revocation lists are neither fetched nor required: each osslsigncode gets the option that
// says so in its version (2.9's -ignore-cdp alone still demands a CRL); before 2.8, none.
TEST(SignTool, OfflineRevocationOptionFollowsTheVersion) {
  EXPECT_EQ(OfflineRevocationOption("osslsigncode 2.9, using:\n\tOpenSSL 3.0.13"), "-ignore-crl");
  EXPECT_EQ(OfflineRevocationOption("osslsigncode 2.10"), "-ignore-crl");
  EXPECT_EQ(OfflineRevocationOption("osslsigncode 3.0"), "-ignore-crl");
  EXPECT_EQ(OfflineRevocationOption("osslsigncode 2.8, using:"), "-ignore-cdp");
  EXPECT_EQ(OfflineRevocationOption("osslsigncode 2.5, using:"), "");
  EXPECT_EQ(OfflineRevocationOption("osslsigncode 1.9"), "");
  EXPECT_EQ(OfflineRevocationOption("unknown option --version"), "");
}

// Signed carriers: a throwaway CA and code-signing certificate made with openssl, signing and
// checking with osslsigncode, as olvpack sign does.
class SignedCarrierTest : public CarrierTest {
 protected:
  void SetUp() override {
    CarrierTest::SetUp();
    if (std::system("command -v openssl >/dev/null && command -v osslsigncode >/dev/null") != 0)
      GTEST_SKIP() << "openssl or osslsigncode missing (scripts/setup-machine.sh installs them)";
    std::string d = root_.string();
    Write("ext.cnf",
          "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
          "extendedKeyUsage=codeSigning\n");
    std::string make =
        "cd '" + d +
        "' && "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 "
        "-subj '/CN=Throwaway Root' -addext basicConstraints=critical,CA:TRUE "
        "-addext keyUsage=critical,keyCertSign && "
        "openssl req -newkey rsa:2048 -nodes -keyout cs.key -out cs.csr -subj '/CN=Throwaway "
        "Publisher' && "
        "openssl x509 -req -in cs.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
        "-extfile ext.cnf -out cs.crt && "
        "openssl pkcs12 -export -inkey cs.key -in cs.crt -certfile ca.crt -passout pass:pw -out "
        "cs.p12";
    ASSERT_EQ(std::system(("(" + make + ") >/dev/null 2>&1").c_str()), 0);
    Write("pass.txt", "pw\n");
    Write("stub.exe", MinimalPe(Slot::kInSection));
    Write("payload/7za.exe", Pattern(70000, 1));
    Write("payload/Qt.7z", Pattern(4099, 2));
    ASSERT_TRUE(BuildCarrier(P("stub.exe"), P("payload"), kExeCarrierOffset, P("Setup.exe")).ok);
    SignRequest req;
    req.carrier = P("Setup.exe");
    req.output = P("Signed.exe");
    req.pkcs12 = P("cs.p12");
    req.passFile = P("pass.txt");
    req.name = "Olvan Setup";
    req.caFile = P("ca.crt");
    SignResult r = SignCarrier(req);
    ASSERT_TRUE(r.ok) << r.message;
  }
  int OsslVerify(const std::string& file) {
    return std::system(
        ("osslsigncode verify -CAfile '" + P("ca.crt") + "' -in '" + P(file) + "' >/dev/null 2>&1")
            .c_str());
  }
};

TEST_F(SignedCarrierTest, PassesOsslsigncodeVerifyAgainstItsCa) {
  EXPECT_EQ(OsslVerify("Signed.exe"), 0);
}

TEST_F(SignedCarrierTest, OneChangedPayloadByteFailsVerification) {
  std::string c = Read("Signed.exe");
  c[kExeCarrierOffset + 100] ^= 1;  // inside 7za.exe's content
  Write("Tampered.exe", c);
  EXPECT_NE(OsslVerify("Tampered.exe"), 0);
}

TEST_F(SignedCarrierTest, SigningTwiceIsRefused) {
  SignRequest req;
  req.carrier = P("Signed.exe");
  req.output = P("Twice.exe");
  req.pkcs12 = P("cs.p12");
  req.passFile = P("pass.txt");
  req.name = "Olvan Setup";
  SignResult r = SignCarrier(req);
  EXPECT_NE(r.message.find("already signed"), std::string::npos) << r.message;
}

// The digest printed for a carrier built from the source is the one the shipped, signed
// carrier's signature holds (as osslsigncode reads it), before and after signing.
TEST_F(SignedCarrierTest, AuthenticodeDigestIsTheOneTheSignatureHolds) {
  ASSERT_NE(fs::file_size(root_ / "Setup.exe") % 8, 0u);  // signing pads such a carrier
  ASSERT_EQ(std::system(("osslsigncode verify -CAfile '" + P("ca.crt") + "' -in '" +
                         P("Signed.exe") + "' > '" + P("verify.txt") + "' 2>&1")
                            .c_str()),
            0);
  std::string text = Read("verify.txt"), key = "Current message digest    : ";
  size_t at = text.find(key);
  ASSERT_NE(at, std::string::npos) << text;
  std::string held = text.substr(at + key.size(), 64);
  for (char& c : held) c = static_cast<char>(tolower(c));
  EXPECT_EQ(DigestHex(DigestCarrier(P("Setup.exe")).authenticode), held);
  EXPECT_EQ(DigestHex(DigestCarrier(P("Signed.exe")).authenticode), held);
}

// olvpack verify, as a release engineer runs it: the signed digest against the carrier's,
// then the chain, each refusal one line without the "ok" line.
TEST_F(SignedCarrierTest, VerifyChecksTheSignedDigestAndTheChain) {
  std::string out;
  EXPECT_EQ(Olvpack("verify Signed.exe --ca-file ca.crt", &out), 0) << out;
  EXPECT_NE(out.find("signer: CN=Throwaway Publisher\n"), std::string::npos) << out;
  EXPECT_NE(out.find("time stamp: none\n"), std::string::npos) << out;
  EXPECT_NE(out.find("signature: digest matches, chain verified against"), std::string::npos);
  EXPECT_NE(out.find("Signed.exe: ok, 2 entries"), std::string::npos) << out;

  // Without the test root, osslsigncode's default CA file does not hold it.
  EXPECT_EQ(Olvpack("verify Signed.exe", &out), 1) << out;
  EXPECT_NE(out.find("signature not trusted"), std::string::npos) << out;
  EXPECT_NE(out.find("pass --ca-file"), std::string::npos) << out;
  EXPECT_EQ(out.find(": ok,"), std::string::npos) << out;

  // One byte of the zero padding between the package and the signature, and one byte of
  // the payload, changed after signing.
  ReadResult r = ReadCarrier(P("Signed.exe"), kExeCarrierOffset, "");
  ASSERT_NE(r.packageEnd % 8, 0u);
  std::string c = Read("Signed.exe");
  c[r.packageEnd] = 1;
  Write("Padding.exe", c);
  c = Read("Signed.exe");
  c[kExeCarrierOffset + 100] ^= 1;
  Write("Payload.exe", c);
  // (The payload's change is already the walk's: the program's bound digest.)
  for (auto [changed, why] : {std::pair{"Padding.exe", "changed after signing"},
                              std::pair{"Payload.exe", "error 167"}}) {
    SCOPED_TRACE(changed);
    EXPECT_NE(OsslVerify(changed), 0);
    for (const char* path : {"", "PATH=/nonexistent "}) {
      EXPECT_EQ(Olvpack(std::string("verify ") + changed + " --ca-file ca.crt", &out, path), 1)
          << out;
      EXPECT_NE(out.find(why), std::string::npos) << out;
      EXPECT_EQ(out.find(": ok,"), std::string::npos) << out;
    }
  }

  // No osslsigncode: the chain is not checked, which is not success unless asked for.
  EXPECT_EQ(Olvpack("verify Signed.exe --ca-file ca.crt", &out, "PATH=/nonexistent "), 3);
  EXPECT_NE(out.find("signature present, chain not checked: "), std::string::npos) << out;
  EXPECT_NE(out.find("signtool verify /pa"), std::string::npos) << out;
  EXPECT_EQ(out.find(": ok,"), std::string::npos) << out;
  EXPECT_EQ(Olvpack("verify Signed.exe --no-signature-check", &out, "PATH=/nonexistent "), 0);
  EXPECT_NE(out.find("signature: not checked"), std::string::npos) << out;
  EXPECT_NE(out.find("Signed.exe: ok, 2 entries"), std::string::npos) << out;

  // Unsigned: fine before signing, unless a signature is required.
  EXPECT_EQ(Olvpack("verify Setup.exe", &out), 0) << out;
  EXPECT_NE(out.find("signature: none\n"), std::string::npos) << out;
  EXPECT_EQ(Olvpack("verify Setup.exe --require-signature", &out), 1) << out;
  EXPECT_EQ(out.find(": ok,"), std::string::npos) << out;
}

// A certificate that names a CRL distribution point, as every CA-issued one does, here one
// nobody answers at: sign and verify hold without fetching or demanding its CRL.
TEST_F(SignedCarrierTest, ACertificateWithACrlDistributionPointSignsAndVerifiesOffline) {
  Write("cdp.cnf",
        "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
        "extendedKeyUsage=codeSigning\ncrlDistributionPoints=URI:http://127.0.0.1:9/root.crl\n");
  std::string make = "cd '" + root_.string() +
                     "' && openssl x509 -req -in cs.csr -CA ca.crt -CAkey ca.key "
                     "-CAcreateserial -days 2 -extfile cdp.cnf -out cdp.crt && "
                     "openssl pkcs12 -export -inkey cs.key -in cdp.crt -certfile ca.crt "
                     "-passout pass:pw -out cdp.p12";
  ASSERT_EQ(std::system(("(" + make + ") >/dev/null 2>&1").c_str()), 0);
  SignRequest req;
  req.carrier = P("Setup.exe");
  req.output = P("Cdp.exe");
  req.pkcs12 = P("cdp.p12");
  req.passFile = P("pass.txt");
  req.name = "Olvan Setup";
  req.caFile = P("ca.crt");
  SignResult r = SignCarrier(req);
  ASSERT_TRUE(r.ok) << r.message;
  std::string out;
  EXPECT_EQ(Olvpack("verify Cdp.exe --ca-file ca.crt", &out), 0) << out;
  EXPECT_NE(out.find("Cdp.exe: ok, 2 entries"), std::string::npos) << out;
}

// The signature reader on the real table, then on damaged copies of it (run under the
// sanitizers): the signed digest and the signer are found, damage never reads outside.
TEST_F(SignedCarrierTest, SignatureReaderTakesDamagedTables) {
  SignatureInfo sig = ReadSignature(P("Signed.exe"));
  ASSERT_TRUE(sig.readable) << sig.problem;
  EXPECT_TRUE(sig.sha256);
  EXPECT_EQ(DigestHex(sig.digest), DigestHex(DigestCarrier(P("Setup.exe")).authenticode));
  EXPECT_EQ(sig.subject, "CN=Throwaway Publisher");
  EXPECT_FALSE(sig.timeStamped);
  EXPECT_FALSE(ReadSignature(P("Setup.exe")).present);
  ReadResult r = ReadCarrier(P("Signed.exe"), kExeCarrierOffset, "");
  std::string c = Read("Signed.exe");
  std::string table = c.substr(c.size() - r.signatureBytes);
  auto bytes = [](const std::string& t) { return reinterpret_cast<const unsigned char*>(t.data()); };
  for (size_t len = 0; len < table.size(); len += 5) {
    std::string cut = table.substr(0, len);
    if (len >= 4) StoreLe32(reinterpret_cast<unsigned char*>(&cut[0]), static_cast<uint32_t>(len));
    SignatureInfo s = ParseSignature(bytes(cut), cut.size());
    EXPECT_FALSE(s.readable && s.sha256 && s.subject == sig.subject && len < table.size() / 2);
  }
  for (size_t i = 8; i < table.size(); i += 3) {
    std::string bent = table;
    bent[i] = static_cast<char>(bent[i] ^ 0xff);
    ParseSignature(bytes(bent), bent.size());
  }
}

TEST_F(SignedCarrierTest, SignSaysWhatToPassForATestRootAndATimeStampServer) {
  std::string out;
  EXPECT_EQ(Olvpack("sign Setup.exe --output S.exe --pkcs12 cs.p12 --pass-file pass.txt --name X",
                    &out),
            1);
  EXPECT_EQ(out.rfind("olvpack: the signed carrier does not verify against osslsigncode's "
                      "default CA file: for a private or test root, pass --ca-file",
                      0),
            0u)
      << out;
  EXPECT_FALSE(fs::exists(root_ / "S.exe"));
  // Nothing listens on port 9 here: the server fails, signing without it works.
  EXPECT_EQ(Olvpack("sign Setup.exe --output S.exe --pkcs12 cs.p12 --pass-file pass.txt --name X "
                    "--ca-file ca.crt --timestamp http://127.0.0.1:9/",
                    &out),
            1);
  EXPECT_EQ(out.rfind("olvpack: the time-stamp server http://127.0.0.1:9/ failed", 0), 0u) << out;
  EXPECT_FALSE(fs::exists(root_ / "S.exe"));
  EXPECT_FALSE(fs::exists(root_ / "S.exe.signing"));
}

TEST_F(SignedCarrierTest, WalkReportsTheSignatureInsteadOfDamage) {
  ReadResult r = ReadCarrier(P("Signed.exe"), kExeCarrierOffset, "");
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(r.slot.bound);  // the signature behind the end entry is not in the digest
  EXPECT_EQ(r.signatureBytes, fs::file_size(root_ / "Signed.exe") - ((r.packageEnd + 7) / 8 * 8));
}

}  // namespace
