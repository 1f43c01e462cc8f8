// Round trip: carriers built by the release tool's code are read back by the walk that
// Setup.exe runs; build input that Setup.exe could not unpack is refused.
#include "tools/olvpack/carrier.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "package/package_format.h"
#include "package/package_writer.h"
#include "tests/package/package_craft.h"

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
      {"CON.txt", "refuses"},           {"trailing.", "refuses"},
      {"^Olvan_end^", "end entry"},     {"caf\xc3\xa9.txt", "ASCII"},
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

}  // namespace
