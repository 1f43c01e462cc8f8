// Package entry names: bare file names only, read character by character in the system's
// ANSI code page.
#include "package/entry_name.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

TEST(EntryName, AcceptsBareFileNames) {
  for (const char* ok :
       {"7za.exe", "Qt.7z", "Portal-cfg.xml", "a-b-cfg.xml", "^Olvan_end^", "conn_cfg.ini", "x",
        ".hidden", "a b.txt", "CONSOLE", "COM0", "COM10", "LPT", "nul-device.txt", "CONx.txt"}) {
    EXPECT_TRUE(IsSafeEntryName(ok, static_cast<uint32_t>(strlen(ok)))) << ok;
  }
}

TEST(EntryName, RefusesPathsDevicesAndForbiddenCharacters) {
  for (const char* bad :
       {"",     ".",         "..",        "..\\x",      "a\\b", "a/b",      "/etc",
        "C:x",  "a:stream",  "a<b",       "a>b",        "a\"b", "a|b",      "a?b",
        "a*b",  "tab\there", "trailing.", "trailing ",  "CON",  "con",      "Con.txt",
        "PRN",  "AUX.dat",   "NUL",       "nul.tar.gz", "COM1", "com9.log", "LPT1",
        "lpt9", "CONIN$",    "conout$",   "NUL .txt",   "CON "}) {
    EXPECT_FALSE(IsSafeEntryName(bad, static_cast<uint32_t>(strlen(bad)))) << bad;
  }
  const char del[] = {'a', 0x7f, 'b'};
  EXPECT_FALSE(IsSafeEntryName(del, 3));
  const char nul[] = {'a', '\0', 'b'};
  EXPECT_FALSE(IsSafeEntryName(nul, 3));
  const char sup[] = {'C', 'O', 'M', static_cast<char>(0xB9)};
  EXPECT_FALSE(IsSafeEntryName(sup, 4));
  EXPECT_FALSE(IsSafeEntryName(nullptr, 0));
}

// Second bytes 0x5C ('\\' alone) and 0x7C ('|' alone) of code page 936 characters.
const char* const kNames936[] = {"\x81\x5C.txt", "\xB1\x7C", "a\xD5\x5C\xCE\x7C.dat"};

TEST(EntryName, DoubleByteCharactersOf936AreOneCharacter) {
  for (const char* ok : kNames936)
    EXPECT_TRUE(IsSafeEntryName(ok, static_cast<uint32_t>(strlen(ok)), 936)) << ok;
}

TEST(EntryName, SeparatorsAndUnfinishedCharactersAreRefusedUnder936) {
  for (const char* bad : {"a\\b", "a|b", "\xB1\x7C\\x", "\xB1\x7C|", "\x81", "a.\xB1", "\x81/x",
                          "\x81\x7F", "\xFF\xFF\x81", "..", "CON"}) {
    EXPECT_FALSE(IsSafeEntryName(bad, static_cast<uint32_t>(strlen(bad)), 936)) << bad;
  }
}

TEST(EntryName, TheSameBytesUnder1252AreRefused) {
  for (const char* bad : kNames936) {
    EXPECT_FALSE(IsSafeEntryName(bad, static_cast<uint32_t>(strlen(bad)), 1252)) << bad;
    EXPECT_FALSE(IsSafeEntryName(bad, static_cast<uint32_t>(strlen(bad)))) << bad;
  }
}

}  // namespace
