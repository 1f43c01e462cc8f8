// Registry reads of HKEY_LOCAL_MACHINE through the process's own view (the 32-bit one for the
// shipped Setup.exe), on values the test writes.
#include "util/registry.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/util/win_test_util.h"

namespace {

const char kKey[] = "SOFTWARE\\OlvanRegistryTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
  }
  void Set(const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  void SetText(const char* name, const std::string& text) {
    Set(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  HKEY key_ = nullptr;
};

// Every key is opened to query its values and for nothing more: a key whose security grants
// the setup only that is still read (Wine grants an administrator any access asked, so the
// access asked is recorded through this program's import table).
std::vector<REGSAM> g_keyAccess;
using RegOpenKeyExAFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
extern "C" RegOpenKeyExAFn g_regOpenKeyImport asm(OLVAN_IMPORT_SLOT(RegOpenKeyExA, 20));
RegOpenKeyExAFn g_realRegOpenKey;
LONG WINAPI RecordRegOpenKey(HKEY root, LPCSTR sub, DWORD options, REGSAM sam, PHKEY out) {
  g_keyAccess.push_back(sam);
  return g_realRegOpenKey(root, sub, options, sam, out);
}

TEST_F(RegistryTest, DwordIsRead) {
  DWORD v = 7;
  Set("InstallByMsi", REG_DWORD, &v, 4);
  SetText("text", "abc");
  DWORD got = 0;
  char text[8] = "";
  g_keyAccess.clear();
  {
    ImportSwap<RegOpenKeyExAFn> swap(&g_regOpenKeyImport, RecordRegOpenKey);
    g_realRegOpenKey = swap.Real();
    EXPECT_TRUE(utl_ReadRegDword(HKEY_LOCAL_MACHINE, kKey, "InstallByMsi", &got));
    EXPECT_TRUE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "text", text, sizeof text));
  }
  EXPECT_EQ(got, 7u);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(g_keyAccess, (std::vector<REGSAM>{KEY_QUERY_VALUE, KEY_QUERY_VALUE}));
}

// The shipped program is 32-bit: on 64-bit Windows it reads HKLM\SOFTWARE through the 32-bit
// view (WOW6432Node), where the product's installer writes. The two views get different values.
TEST_F(RegistryTest, DwordIsReadFromThe32BitView) {
#if defined(_WIN64)
  GTEST_SKIP() << "a 64-bit process reads the 64-bit view; the shipped Setup.exe is 32-bit";
#else
  const char key[] = "SOFTWARE\\OlvanRegistryViewTest";
  const REGSAM views[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
  for (DWORD i = 0; i < 2; ++i) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS | views[i],
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    DWORD v = 32 + 32 * i;
    RegSetValueExA(k, "view", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    RegCloseKey(k);
  }
  DWORD got = 0;
  EXPECT_TRUE(utl_ReadRegDword(HKEY_LOCAL_MACHINE, key, "view", &got));
  EXPECT_EQ(got, 32u);
  for (REGSAM view : views) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, view, 0);
#endif
}

TEST_F(RegistryTest, DwordFailsForMissingKeyValueOrTarget) {
  DWORD got = 0;
  EXPECT_FALSE(utl_ReadRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\OlvanNoSuchKey", "x", &got));
  EXPECT_FALSE(utl_ReadRegDword(HKEY_LOCAL_MACHINE, kKey, "missing", &got));
  DWORD v = 1;
  Set("v", REG_DWORD, &v, 4);
  EXPECT_FALSE(utl_ReadRegDword(HKEY_LOCAL_MACHINE, kKey, "v", nullptr));
}

TEST_F(RegistryTest, DwordFailsOnLongerStringAndFillsOnlyTheBytesOfAShortValue) {
  SetText("text", "longer than four");
  DWORD got = 0;
  EXPECT_FALSE(utl_ReadRegDword(HKEY_LOCAL_MACHINE, kKey, "text", &got));
  const unsigned char two[] = {0x34, 0x12};
  Set("two", REG_BINARY, two, 2);
  got = 0xAABBCCDD;
  EXPECT_TRUE(utl_ReadRegDword(HKEY_LOCAL_MACHINE, kKey, "two", &got));
  EXPECT_EQ(got, 0xAABB1234u);
}

TEST_F(RegistryTest, StringOfExactlyTheLimitFitsAndOneMoreFails) {
  SetText("s128", std::string(128, 'p'));
  SetText("s129", std::string(129, 'q'));
  char target[140];
  memset(target, '#', sizeof target);
  EXPECT_TRUE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "s128", target, 128));
  EXPECT_EQ(std::string(target), std::string(128, 'p'));
  EXPECT_EQ(target[129], '#');  // 129 bytes written, no more
  memset(target, '#', sizeof target);
  EXPECT_FALSE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "s129", target, 128));
  EXPECT_EQ(std::string(target, sizeof target), std::string(sizeof target, '#'));
}

TEST_F(RegistryTest, StringOf259CharactersFitsTheLimit260) {
  SetText("s259", std::string(259, 'r'));
  char target[261];
  EXPECT_TRUE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "s259", target, 260));
  EXPECT_EQ(strlen(target), 259u);
}

TEST_F(RegistryTest, ValueFillingTheBufferWithoutTerminatorIsTooLong) {
  std::string raw(260, 'x');
  Set("raw260", REG_BINARY, raw.data(), 260);
  char target[300];
  memset(target, '#', sizeof target);
  EXPECT_FALSE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "raw260", target, 290));
  EXPECT_EQ(target[0], '#');
  // Longer than the buffer: the query itself fails.
  SetText("s300", std::string(300, 'y'));
  EXPECT_FALSE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "s300", target, 299));
}

TEST_F(RegistryTest, StringStopsAtItsFirstNul) {
  const char two[] = "ab\0cd";
  Set("nul", REG_BINARY, two, 6);
  char target[10];
  EXPECT_TRUE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "nul", target, 2));
  EXPECT_STREQ(target, "ab");
  EXPECT_FALSE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "nul", nullptr, 2));
  EXPECT_FALSE(utl_ReadRegString(HKEY_LOCAL_MACHINE, kKey, "missing", target, 9));
}

}  // namespace
