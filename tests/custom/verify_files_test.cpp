// The four verify operations on real files, and the icon pass with icons put into the
// machine's own system folder.
#include "custom/verify_files.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#include "custom/custom_store.h"
#include "custom/md5.h"
#include "custom/verify_digest.h"
#include "win_test_folder.h"

namespace {

Bytes Content(size_t n, unsigned char seed = 1) {
  Bytes c(n);
  for (size_t i = 0; i < n; ++i) c[i] = static_cast<unsigned char>(seed + i * 13 + i / 251);
  return c;
}
Bytes Filler(unsigned char seed) {
  Bytes f(kVrfFillerSize);
  for (unsigned i = 0; i < f.size(); ++i) f[i] = static_cast<unsigned char>(seed * 7 + 31 * i);
  return f;
}
Bytes DefaultFp() {
  Bytes fp(kIconFingerprintSize);
  DefaultIconFingerprint(fp.data());
  return fp;
}
Bytes Image(const Bytes& content, const Bytes& fp, unsigned char seed = 3) {
  Bytes filler = Filler(seed), img(kVrfFileSize);
  EXPECT_TRUE(
      MakeVerificationImage(content.data(), content.size(), filler.data(), fp.data(), img.data()));
  return img;
}
// An icon file of n bytes whose bytes 512 to 543 are distinct from the default fingerprint.
Bytes Icon(size_t n) {
  Bytes icon(n);
  for (size_t i = 0; i < n; ++i) icon[i] = static_cast<unsigned char>(0x40 + i * 3);
  return icon;
}
Bytes IconFp(const Bytes& icon) {
  return Bytes(icon.begin() + kIconFingerprintOffset, icon.begin() + kMinIconSize);
}

struct Pair {
  const char* content;
  const char* vrf;
  int (*verify)(const char*);
};
int CusXmlNoIcon(const char* folder) { return CusXmlVerify(folder, 0, ""); }
const Pair kPairs[] = {
    {CUS_INI_FILE, CUS_INI_VRF_FILE, CusIniVerify},
    {CUS_XML_FILE, CUS_XML_VRF_FILE, CusXmlNoIcon},
    {UNINSTALL_INI_FILE, UNINSTALL_INI_VRF_FILE, UninstallIniVerify},
    {UNINSTALL_XML_FILE, UNINSTALL_XML_VRF_FILE, UninstallXmlVerify},
};

class VerifyFiles : public ::testing::Test {
 protected:
  TempFolder dir_{"olv-vrf"};
  void Put(const std::string& name, const Bytes& data) { WriteBytes(dir_.File(name), data); }
  void Sign(const Pair& p, const Bytes& content, const Bytes& fp = DefaultFp()) {
    Put(p.content, content);
    Put(p.vrf, Image(content, fp));
  }
  int Verify(const Pair& p) { return p.verify(dir_.Path().c_str()); }
};

TEST_F(VerifyFiles, EveryPairIsProvenByItsOwnVerificationFile) {
  for (const Pair& p : kPairs) {
    Sign(p, Content(1234, p.content[5]));
    EXPECT_EQ(1, Verify(p)) << p.content;
  }
  EXPECT_EQ(UNINSTALL_XML_FILE, std::string("OlvanUninstallInfo.xml"));
  EXPECT_EQ(UNINSTALL_XML_VRF_FILE, std::string("OlvanUninstallInfoXml.vrf"));
}

TEST_F(VerifyFiles, VerificationFileMustBeExactly256Bytes) {
  for (const Pair& p : kPairs) {
    Bytes content = Content(500);
    Bytes img = Image(content, DefaultFp());
    Put(p.content, content);
    Bytes shorter(img.begin(), img.end() - 1), longer = img;
    longer.push_back(0);
    Put(p.vrf, shorter);
    EXPECT_EQ(0, Verify(p)) << p.vrf << " of 255 bytes";
    Put(p.vrf, longer);
    EXPECT_EQ(0, Verify(p)) << p.vrf << " of 257 bytes";
    Put(p.vrf, img);
    EXPECT_EQ(1, Verify(p));
  }
}

TEST_F(VerifyFiles, ContentUpTo40588BytesIsProvenAndLargerIsRefused) {
  const Pair& p = kPairs[0];
  Sign(p, Content(kMaxVerifiedContent));
  EXPECT_EQ(1, Verify(p));
  // 40589 bytes with the digest that their bytes would give: still refused.
  Bytes big = Content(kMaxVerifiedContent + 1);
  Bytes filler = Filler(3), fp = DefaultFp(), buf(big);
  buf.resize(big.size() + kDigestTrailerSize);
  unsigned char constant[kProductConstantSize];
  ASSERT_TRUE(BuildProductConstant(constant));
  std::copy(filler.begin(), filler.end(), buf.begin() + big.size());
  std::copy(fp.begin(), fp.end(), buf.begin() + big.size() + kVrfFillerSize);
  std::copy(constant, constant + kProductConstantSize, buf.end() - kProductConstantSize);
  Bytes img = filler;
  img.resize(kVrfFileSize);
  Md5Context ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, buf.data(), buf.size());
  Md5Final(&ctx, img.data() + kVrfDigestOffset);
  Put(p.content, big);
  Put(p.vrf, img);
  EXPECT_EQ(0, Verify(p));
}

TEST_F(VerifyFiles, EmptyContentIsProven) {
  for (const Pair& p : kPairs) {
    Sign(p, Bytes());
    EXPECT_EQ(1, Verify(p)) << p.content;
  }
}

TEST_F(VerifyFiles, AnySingleChangedByteIsRefused) {
  const Pair& p = kPairs[1];
  Bytes content = Content(3000);
  Bytes img = Image(content, DefaultFp());
  Put(p.vrf, img);
  for (size_t i : {size_t(0), size_t(1), size_t(1499), size_t(2998), size_t(2999)}) {
    Bytes c = content;
    c[i] ^= 0x20;
    Put(p.content, c);
    EXPECT_EQ(0, Verify(p)) << "content byte " << i;
  }
  Put(p.content, content);
  for (size_t i = 0; i < kVrfFileSize; ++i) {
    Bytes v = img;
    v[i] ^= 0x01;
    Put(p.vrf, v);
    EXPECT_EQ(0, Verify(p)) << (i < kVrfDigestOffset ? "filler byte " : "digest byte ") << i;
  }
  Put(p.vrf, img);
  EXPECT_EQ(1, Verify(p));
}

TEST_F(VerifyFiles, VerificationFileOfAnotherPairIsRefused) {
  Sign(kPairs[0], Content(800, 1));
  Put(kPairs[1].content, Content(900, 2));
  Put(kPairs[1].vrf, ReadBytes(dir_.File(kPairs[0].vrf)));
  EXPECT_EQ(1, Verify(kPairs[0]));
  EXPECT_EQ(0, Verify(kPairs[1]));
}

TEST_F(VerifyFiles, MissingFilesAreRefused) {
  const Pair& p = kPairs[2];
  EXPECT_EQ(0, Verify(p));
  Sign(p, Content(10));
  DeleteFileA(dir_.File(p.content).c_str());
  EXPECT_EQ(0, Verify(p));
  Sign(p, Content(10));
  DeleteFileA(dir_.File(p.vrf).c_str());
  EXPECT_EQ(0, Verify(p));
  EXPECT_EQ(0, CusIniVerify((dir_.Path() + "\\nowhere").c_str()));
}

TEST_F(VerifyFiles, VerificationChangesNeitherFile) {
  const Pair& p = kPairs[0];
  Bytes content = Content(321);
  Bytes img = Image(content, DefaultFp());
  img[0] ^= 1;  // a failing verification
  Put(p.content, content);
  Put(p.vrf, img);
  EXPECT_EQ(0, Verify(p));
  EXPECT_EQ(content, ReadBytes(dir_.File(p.content)));
  EXPECT_EQ(img, ReadBytes(dir_.File(p.vrf)));
}

TEST_F(VerifyFiles, FolderPathTooLongIsRefused) {
  std::string longFolder = dir_.Path() + "\\" + std::string(250, 'x');
  EXPECT_EQ(0, CusIniVerify(longFolder.c_str()));
}

TEST_F(VerifyFiles, IconFingerprintReadsBytes512To543) {
  unsigned char fp[kIconFingerprintSize];
  memset(fp, 0x11, sizeof fp);
  Put("short.ico", Icon(543));
  EXPECT_EQ(0, IconFingerprint(dir_.File("short.ico").c_str(), fp));
  for (unsigned char b : fp) EXPECT_EQ(0x11, b) << "unchanged";
  EXPECT_EQ(0, IconFingerprint(dir_.File("missing.ico").c_str(), fp));
  Bytes icon = Icon(544);
  Put("exact.ico", icon);
  EXPECT_EQ(1, IconFingerprint(dir_.File("exact.ico").c_str(), fp));
  EXPECT_EQ(IconFp(icon), Bytes(fp, fp + sizeof fp));
}

TEST_F(VerifyFiles, IconInTheFolderGivesTheFingerprint) {
  const Pair& p = kPairs[1];
  Bytes icon = Icon(2000);
  Put("custom.ico", icon);
  Sign(p, Content(700), IconFp(icon));
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, "custom.ico"));
  EXPECT_EQ(0, CusXmlVerify(dir_.Path().c_str(), 0, "custom.ico")) << "withIcon 0 ignores the icon";
  Sign(p, Content(700));
  EXPECT_EQ(0, CusXmlVerify(dir_.Path().c_str(), 1, "custom.ico"));
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 0, "custom.ico"));
}

TEST_F(VerifyFiles, IconShorterThan544BytesBehavesLikeTheDefault) {
  const Pair& p = kPairs[1];
  Put("small.ico", Icon(543));
  Sign(p, Content(700));
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, "small.ico"));
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 0, ""));
}

// Files put into the machine's own backup folder (<Windows folder>\system32) and the
// Windows folder, removed again with the object. The names are the test's own.
class SystemFolderFiles {
 public:
  SystemFolderFiles() {
    char backup[MAX_PATH] = "";
    EXPECT_TRUE(GetBackupFolder(backup));
    backup_ = backup;
  }
  ~SystemFolderFiles() {
    for (const std::string& p : made_) DeleteFileA(p.c_str());
  }
  void PutSystem32(const std::string& name, const Bytes& b) { Put(backup_ + name, b); }
  void PutWindows(const std::string& name, const Bytes& b) {
    Put(backup_.substr(0, backup_.size() - strlen("system32\\")) + name, b);
  }

 private:
  void Put(const std::string& path, const Bytes& b) {
    WriteBytes(path, b);
    made_.push_back(path);
  }
  std::string backup_;
  std::vector<std::string> made_;
};

TEST_F(VerifyFiles, MissingIconIsCopiedFromTheSystemFolderBeforeHashing) {
  SystemFolderFiles sys;
  Bytes icon = Icon(1024);
  sys.PutSystem32("olvtest-brand.ico", icon);
  Sign(kPairs[1], Content(600), IconFp(icon));
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, "olvtest-brand.ico"));
  EXPECT_EQ(icon, ReadBytes(dir_.File("olvtest-brand.ico"))) << "the copy stays in the folder";
}

TEST_F(VerifyFiles, CopiedIconStaysEvenWhenTheVerificationFails) {
  SystemFolderFiles sys;
  Bytes icon = Icon(1024);
  sys.PutSystem32("olvtest-brand.ico", icon);
  Sign(kPairs[1], Content(600));  // signed without the icon
  EXPECT_EQ(0, CusXmlVerify(dir_.Path().c_str(), 1, "olvtest-brand.ico"));
  EXPECT_TRUE(Exists(dir_.File("olvtest-brand.ico")));
}

TEST_F(VerifyFiles, IconMissingEverywhereLeavesTheDefault) {
  SystemFolderFiles sys;
  Sign(kPairs[1], Content(600));
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, "olvtest-nowhere.ico"));
  EXPECT_FALSE(Exists(dir_.File("olvtest-nowhere.ico")));
}

TEST_F(VerifyFiles, ShortIconInTheFolderIsNotReplacedFromTheSystemFolder) {
  SystemFolderFiles sys;
  Bytes big = Icon(1024);
  sys.PutSystem32("olvtest-brand.ico", big);
  Put("olvtest-brand.ico", Icon(100));
  Sign(kPairs[1], Content(600));
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, "olvtest-brand.ico"));
  EXPECT_EQ(100u, ReadBytes(dir_.File("olvtest-brand.ico")).size());
}

TEST_F(VerifyFiles, EmptyIconNameCopiesNothing) {
  SystemFolderFiles sys;
  sys.PutSystem32("olvtest-stray.ico", Icon(1024));
  Sign(kPairs[1], Content(600));
  std::vector<std::string> before = Listing(dir_.Path());
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, ""));
  EXPECT_EQ(before, Listing(dir_.Path()));
}

TEST_F(VerifyFiles, IconNamesThatLeaveTheFolderAreNotFollowed) {
  SystemFolderFiles sys;
  Bytes icon = Icon(1024);
  // Where "..\olvtest-evil.ico" would lead: the Windows folder as the source, the folder's parent
  // as the target; and an icon in a subfolder.
  sys.PutWindows("olvtest-evil.ico", icon);
  CreateDirectoryA(dir_.File("sub").c_str(), nullptr);
  Put("sub\\inner.ico", icon);
  Sign(kPairs[1], Content(600));
  std::string parent = dir_.Path().substr(0, dir_.Path().rfind('\\'));
  std::string escaped = parent + "\\olvtest-evil.ico";
  DeleteFileA(escaped.c_str());
  std::vector<std::string> before = Listing(dir_.Path());
  for (const char* name : {"..\\olvtest-evil.ico", "../olvtest-evil.ico", "sub\\inner.ico",
                           "sub/inner.ico", "C:evil.ico", "..", "."}) {
    EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, name))
        << name << " gives the default fingerprint";
  }
  std::string absolute = dir_.File("sub\\inner.ico");
  EXPECT_EQ(1, CusXmlVerify(dir_.Path().c_str(), 1, absolute.c_str()));
  EXPECT_EQ(before, Listing(dir_.Path()));
  EXPECT_FALSE(Exists(escaped)) << "nothing copied outside the folder";
  DeleteFileA(escaped.c_str());
}

}  // namespace
