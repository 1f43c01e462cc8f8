// The icon pass against the machine's real system folder: an icon missing in the folder is
// copied from %SystemRoot%\system32. Writes one uniquely named file there and removes it.
#include "custom/verify_files.h"

#include <gtest/gtest.h>

#include "custom/verify_digest.h"
#include "win_test_folder.h"

namespace {

TEST(VerifySystemIcon, MissingIconIsCopiedFromSystem32UnderSystemRoot) {
  char root[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("SystemRoot", root, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  std::string name = "olvan-vrf-test-" + std::to_string(GetCurrentProcessId()) + ".ico";
  std::string systemIcon = std::string(root) + "\\system32\\" + name;
  Bytes icon(800);
  for (size_t i = 0; i < icon.size(); ++i) icon[i] = static_cast<unsigned char>(i * 5 + 1);
  WriteBytes(systemIcon, icon);
  ASSERT_TRUE(Exists(systemIcon)) << systemIcon;

  TempFolder dir("olv-vrf-sys");
  Bytes content(333, 'c'), filler(kVrfFillerSize, 0x3C), image(kVrfFileSize);
  ASSERT_TRUE(MakeVerificationImage(content.data(), content.size(), filler.data(),
                                    icon.data() + kIconFingerprintOffset, image.data()));
  WriteBytes(dir.File(CUS_XML_FILE), content);
  WriteBytes(dir.File(CUS_XML_VRF_FILE), image);

  EXPECT_EQ(1, CusXmlVerify(dir.Path().c_str(), 1, name.c_str()));
  EXPECT_EQ(icon, ReadBytes(dir.File(name)));
  DeleteFileA(systemIcon.c_str());
}

}  // namespace
