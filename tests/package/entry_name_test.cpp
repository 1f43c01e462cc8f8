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
  // The last byte below the blank is a control character; the blank itself is not.
  const char unit[] = {'a', 0x1f, 'b'};
  EXPECT_FALSE(IsSafeEntryName(unit, 3));
  // Superscript one, two and three count as device digits.
  for (const char* dev : {"COM\xB9", "COM\xB2", "COM\xB3", "LPT\xB9", "LPT\xB2.txt", "lpt\xB3"})
    EXPECT_FALSE(IsSafeEntryName(dev, static_cast<uint32_t>(strlen(dev)))) << dev;
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

// Each double-byte code page: its first and last lead bytes before a second byte that alone
// would be a separator or a bar (where that code page allows one), and bytes that are no
// lead byte and so leave a following separator visible.
TEST(EntryName, LeadAndTrailRangesOfEachDoubleByteCodePage) {
  struct Case {
    uint32_t codePage;
    const char* name;
    bool ok;
  } cases[] = {
      {936, "\xFE\x5C", true},  {936, "\xFE\x7C.x", true}, {936, "\x80\\x", false},
      {936, "\x81\x80", true},  {936, "\x81\x40", true},   {936, "\x81\xFF", false},
      {932, "\x81\x5C", true},  {932, "\x9F\x7C", true},   {932, "\x81\x80", true},
      {932, "\xE0\x5C", true},  {932, "\xFC\x5C.x", true}, {932, "\xA0\\x", false},
      {932, "a\xA0|", false},   {932, "\xB1\\x", false},   {932, "\xFD\\x", false},
      {932, "\x81\xFD", false}, {949, "\x81\x41", true},   {949, "\xFE\x7A", true},
      {949, "\xB0\xFE", true},  {949, "\x81\x5C", false},  {949, "\xB0\x7C", false},
      {949, "\xB0\x40", false}, {950, "\xA4\x5C", true},   {950, "\xFE\x7C", true},
      {950, "\x81\xA1", true},  {950, "\x81\x80", false},  {950, "\xA4\xA0", false},
      {950, "\x80\\x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.ok, IsSafeEntryName(c.name, static_cast<uint32_t>(strlen(c.name)), c.codePage))
        << c.codePage << " " << c.name;
  }
}

TEST(EntryName, TheSameBytesUnder1252AreRefused) {
  for (const char* bad : kNames936) {
    EXPECT_FALSE(IsSafeEntryName(bad, static_cast<uint32_t>(strlen(bad)), 1252)) << bad;
    EXPECT_FALSE(IsSafeEntryName(bad, static_cast<uint32_t>(strlen(bad)))) << bad;
  }
}

}  // namespace
