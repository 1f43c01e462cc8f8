// The XML access layer on ASCII content: skeleton, loading, the section readers, the
// getters' conversions and the decoding of the stored password.
#include "xml/custom_xml_parse.h"

#include <gtest/gtest.h>

#include <string>

#include "gate/cipher/pwd_cipher.h"
#include "xml_test_files.h"

namespace {

std::string StoredText(const std::string& plain) {
  char text[kStoredPwdTextSize] = {0};
  EXPECT_EQ(kPwdOk,
            DesBase64Encrypt(text, sizeof text,
                             reinterpret_cast<const unsigned char*>(plain.data()), plain.size()));
  return text;
}

// Reads a "functions" section whose inner XML is body.
std::string WriteFunctions(const XmlFolder& dir, const std::string& body) {
  return dir.Write("OlvanCustom.xml", CustomXml("<functions>" + body + "</functions>"));
}

// Parser with access to the getters on the current element.
class Probe : public CCustomXmlParse {
 public:
  explicit Probe(const std::string& fields) {
    EXPECT_TRUE(LoadText(CustomXml("<functions>" + fields + "</functions>").c_str()));
    FunctionOptions ignored;
    FillFunctions(ignored);
  }
  uint32_t UInt(const char* name) {
    uint32_t v = 77;
    GetUInt(name, v);
    return v;
  }
  int32_t Int(const char* name) {
    int32_t v = 77;
    GetInt(name, v);
    return v;
  }
  uint16_t Short(const char* name) {
    uint16_t v = 77;
    GetShort(name, v);
    return v;
  }
  std::string Raw(const char* name, uint16_t max = 0) {
    TextBuf t;
    t.Assign("previous");
    GetNV1(name, t, max);
    return t.CStr();
  }
  std::string Str(const char* name, uint16_t max = 0) {
    TextBuf t;
    t.Assign("previous");
    GetString(name, t, max);
    return t.CStr();
  }
};

TEST(XmlSkeleton, NewDocumentMakesContentCurrent) {
  class Skeleton : public CCustomXmlParse {
   public:
    const TiXmlElement* Current() const { return current_; }
    const TiXmlDocument& Doc() const { return doc_; }
  } x;
  EXPECT_EQ(nullptr, x.Current());
  EXPECT_TRUE(x.NewDocument());
  ASSERT_NE(nullptr, x.Current());
  EXPECT_STREQ("content", x.Current()->Value());
  EXPECT_STREQ("msg", x.Current()->Parent()->Value());
  EXPECT_EQ(nullptr, x.Current()->FirstChild());
  x.Reset();
  EXPECT_EQ(nullptr, x.Current());
  EXPECT_EQ(nullptr, x.Doc().FirstChild());
}

TEST(XmlSkeleton, ReaderReplacesTheSkeletonWithTheFile) {
  XmlFolder dir;
  std::string path =
      dir.Write("logo.xml", CustomXml("<logoOptions><customIcon>1</customIcon>"
                                      "<CusIconName>brand.ico</CusIconName></logoOptions>"));
  CCustomXmlParse x;
  x.NewDocument();
  LogoOptions logo;
  EXPECT_TRUE(x.ReadLogoOptions(path.c_str(), logo));
  EXPECT_EQ(1, logo.customIcon);
  EXPECT_STREQ("brand.ico", logo.CusIconName.CStr());
}

TEST(XmlFunctions, MissingSectionKeepsTheRecordDefaults) {
  XmlFolder dir;
  std::string path = dir.Write("a.xml", CustomXml("<logoOptions/>"));
  CCustomXmlParse x;
  FunctionOptions f;
  EXPECT_TRUE(x.ReadFunctions(path.c_str(), f));
  EXPECT_EQ(1u, f.dynamicVifInfo);
  EXPECT_EQ(1u, f.msgAuthInfo);
  EXPECT_EQ(0u, f.uninstall);
  EXPECT_EQ(0u, f.msgAuthServPort);
  EXPECT_STREQ("", f.uninstallPassword.CStr());
}

TEST(XmlFunctions, EmptySectionZeroesWhatItReads) {
  XmlFolder dir;
  std::string path = WriteFunctions(dir, "");
  CCustomXmlParse x;
  FunctionOptions f;
  f.uninstall = 5;
  EXPECT_TRUE(x.ReadFunctions(path.c_str(), f));
  EXPECT_EQ(0u, f.dynamicVifInfo);
  EXPECT_EQ(1u, f.msgAuthInfo) << "not read: msgAuthOpt is 0";
  EXPECT_EQ(0u, f.uninstall);
}

TEST(XmlFunctions, ConditionalFieldsNeedTheirSwitch) {
  const std::string dependants =
      "<msgAuthInfo>7</msgAuthInfo><msgAuthServIP>10.0.0.1</msgAuthServIP>"
      "<msgAuthServPort>8443</msgAuthServPort><pwdhintinfo>hint</pwdhintinfo>"
      "<userNameHideFrom>2</userNameHideFrom><userNameHideNum>3</userNameHideNum>"
      "<certissuerinfo>CA</certissuerinfo>";
  XmlFolder dir;
  {
    std::string path = WriteFunctions(dir, "<msgAuthOpt>0</msgAuthOpt>" + dependants);
    CCustomXmlParse x;
    FunctionOptions f;
    ASSERT_TRUE(x.ReadFunctions(path.c_str(), f));
    EXPECT_EQ(1u, f.msgAuthInfo);
    EXPECT_STREQ("", f.msgAuthServIP.CStr());
    EXPECT_EQ(0u, f.msgAuthServPort);
    EXPECT_STREQ("", f.pwdhintinfo.CStr());
    EXPECT_EQ(0u, f.userNameHideFrom);
    EXPECT_EQ(0u, f.userNameHideNum);
    EXPECT_STREQ("", f.certissuerinfo.CStr());
  }
  {
    std::string path = dir.Write(
        "b.xml", CustomXml("<functions><msgAuthOpt>1</msgAuthOpt><pwdhint>1</pwdhint>"
                           "<userNameHideOpt>4</userNameHideOpt><certissuer>1</certissuer>" +
                           dependants + "</functions>"));
    CCustomXmlParse x;
    FunctionOptions f;
    ASSERT_TRUE(x.ReadFunctions(path.c_str(), f));
    EXPECT_EQ(7u, f.msgAuthInfo);
    EXPECT_STREQ("10.0.0.1", f.msgAuthServIP.CStr());
    EXPECT_EQ(8443u, f.msgAuthServPort);
    EXPECT_STREQ("hint", f.pwdhintinfo.CStr());
    EXPECT_EQ(2u, f.userNameHideFrom);
    EXPECT_EQ(3u, f.userNameHideNum);
    EXPECT_STREQ("CA", f.certissuerinfo.CStr());
  }
  {
    // A switched-on field without its element reads as 0, not as the record's default.
    std::string path = WriteFunctions(dir, "<msgAuthOpt>1</msgAuthOpt>");
    CCustomXmlParse x;
    FunctionOptions f;
    ASSERT_TRUE(x.ReadFunctions(path.c_str(), f));
    EXPECT_EQ(0u, f.msgAuthInfo);
  }
}

TEST(XmlFunctions, EveryUnconditionalFieldIsRead) {
  const char* names[] = {"renameConn",
                         "arp",
                         "dhcp",
                         "wanControl",
                         "acl",
                         "uninstall",
                         "remindPopSecUI",
                         "AutoHideSecUI",
                         "userFromCert",
                         "blackBox",
                         "disableExit",
                         "patchARV",
                         "url",
                         "autoReboot",
                         "disablePap",
                         "ssid",
                         "forbidMdyIp",
                         "drvErr",
                         "dynamicPwdVerify",
                         "msgAuthOpt",
                         "macsec",
                         "iESiOSDK",
                         "usbreadonly",
                         "pwdhint",
                         "NotShowNotify",
                         "showCenterNotify",
                         "NotShowNotifyNotShow",
                         "userNameHideOpt",
                         "certissuer",
                         "ShowDetail",
                         "UseGeolocation",
                         "passwordProtection",
                         "userNameLenFromCert",
                         "dynamicVifInfo"};
  std::string body;
  unsigned v = 100;
  for (const char* n : names)
    body += std::string("<") + n + ">" + std::to_string(v++) + "</" + n + ">";
  body += "<userFromExtendPro>ext</userFromExtendPro>";
  CCustomXmlParse x;
  ASSERT_TRUE(x.LoadText(CustomXml("<functions>" + body + "</functions>").c_str()));
  FunctionOptions f;
  x.FillFunctions(f);
  const uint32_t got[] = {f.renameConn,
                          f.arp,
                          f.dhcp,
                          f.wanControl,
                          f.acl,
                          f.uninstall,
                          f.remindPopSecUI,
                          f.AutoHideSecUI,
                          f.userFromCert,
                          f.blackBox,
                          f.disableExit,
                          f.patchARV,
                          f.url,
                          f.autoReboot,
                          f.disablePap,
                          f.ssid,
                          f.forbidMdyIp,
                          f.drvErr,
                          f.dynamicPwdVerify,
                          f.msgAuthOpt,
                          f.macsec,
                          f.iESiOSDK,
                          f.usbreadonly,
                          f.pwdhint,
                          f.NotShowNotify,
                          f.showCenterNotify,
                          f.NotShowNotifyNotShow,
                          f.userNameHideOpt,
                          f.certissuer,
                          f.ShowDetail,
                          f.UseGeolocation,
                          f.passwordProtection,
                          f.userNameLenFromCert,
                          f.dynamicVifInfo};
  for (unsigned i = 0; i < sizeof got / sizeof got[0]; ++i) EXPECT_EQ(100 + i, got[i]) << names[i];
  EXPECT_STREQ("ext", f.userFromExtendPro.CStr());
}

TEST(XmlFunctions, StoredPasswordIsDecrypted) {
  XmlFolder dir;
  std::string path = WriteFunctions(dir, "<uninstall>1</uninstall><uninstallPassword>" +
                                             StoredText("S3cret!pw") + "</uninstallPassword>");
  CCustomXmlParse x;
  FunctionOptions f;
  ASSERT_TRUE(x.ReadFunctions(path.c_str(), f));
  EXPECT_EQ(1u, f.uninstall);
  EXPECT_STREQ("S3cret!pw", f.uninstallPassword.CStr());
}

TEST(XmlFunctions, UndecryptablePasswordIsEmpty) {
  for (const char* text : {"not base64!", "QUJD", "8ZwuhOHxnHE", "", "=ZwuhOHxnHE="}) {
    CCustomXmlParse x;
    ASSERT_TRUE(x.LoadText(CustomXml(std::string("<functions><uninstallPassword>") + text +
                                     "</uninstallPassword></functions>")
                               .c_str()));
    FunctionOptions f;
    f.uninstallPassword.Assign("previous");
    x.FillFunctions(f);
    EXPECT_STREQ("", f.uninstallPassword.CStr()) << text;
  }
}

TEST(XmlFunctions, LongestStoredPasswordIsDecrypted) {
  std::string plain(87, 'p');
  std::string stored = StoredText(plain);
  ASSERT_EQ(120u, stored.size());
  CCustomXmlParse x;
  ASSERT_TRUE(x.LoadText(
      CustomXml("<functions><uninstallPassword>" + stored + "</uninstallPassword></functions>")
          .c_str()));
  FunctionOptions f;
  x.FillFunctions(f);
  EXPECT_EQ(plain, f.uninstallPassword.CStr());
}

TEST(XmlFunctions, PasswordTextBeyond128BytesIsCutAndFailsToDecrypt) {
  // A stored text of 140 characters (a 100-byte password) loses its tail.
  char text[200] = {0};
  std::string plain(100, 'q');
  ASSERT_EQ(kPwdOk,
            DesBase64Encrypt(text, sizeof text,
                             reinterpret_cast<const unsigned char*>(plain.data()), plain.size()));
  ASSERT_EQ(140u, strlen(text));
  CCustomXmlParse x;
  ASSERT_TRUE(x.LoadText(CustomXml(std::string("<functions><uninstallPassword>") + text +
                                   "</uninstallPassword></functions>")
                             .c_str()));
  FunctionOptions f;
  x.FillFunctions(f);
  EXPECT_STREQ("", f.uninstallPassword.CStr());
}

TEST(XmlGetters, UnsignedConversion) {
  Probe p(
      "<a>-1</a><b>12abc</b><c>abc</c><d>4294967296</d><e>99999999999999999999</e>"
      "<f>true</f><g>0x10</g><h>1e3</h><i>+42</i><j>4294967295</j><k>-4294967295</k>");
  EXPECT_EQ(4294967295u, p.UInt("a"));
  EXPECT_EQ(12u, p.UInt("b"));
  EXPECT_EQ(0u, p.UInt("c"));
  EXPECT_EQ(4294967295u, p.UInt("d"));
  EXPECT_EQ(4294967295u, p.UInt("e"));
  EXPECT_EQ(0u, p.UInt("f"));
  EXPECT_EQ(0u, p.UInt("g"));
  EXPECT_EQ(1u, p.UInt("h"));
  EXPECT_EQ(42u, p.UInt("i"));
  EXPECT_EQ(4294967295u, p.UInt("j"));
  EXPECT_EQ(1u, p.UInt("k"));
  EXPECT_EQ(0u, p.UInt("missing"));
}

TEST(XmlGetters, SignedConversion) {
  Probe p(
      "<a>-1</a><b>12abc</b><c>abc</c><d>2147483648</d><e>-2147483649</e><f>-2147483648</f>"
      "<g>99999999999999999999</g><h>-</h><i>1e3</i>");
  EXPECT_EQ(-1, p.Int("a"));
  EXPECT_EQ(12, p.Int("b"));
  EXPECT_EQ(0, p.Int("c"));
  EXPECT_EQ(2147483647, p.Int("d"));
  EXPECT_EQ(INT32_MIN, p.Int("e"));
  EXPECT_EQ(INT32_MIN, p.Int("f"));
  EXPECT_EQ(2147483647, p.Int("g"));
  EXPECT_EQ(0, p.Int("h"));
  EXPECT_EQ(1, p.Int("i"));
}

TEST(XmlGetters, ShortKeepsTheLow16Bits) {
  Probe p("<a>70000</a><b>-1</b><c>99999999999</c><d>65535</d>");
  EXPECT_EQ(70000 & 0xFFFF, p.Short("a"));
  EXPECT_EQ(0xFFFF, p.Short("b"));
  EXPECT_EQ(0xFFFF, p.Short("c"));
  EXPECT_EQ(65535, p.Short("d"));
}

TEST(XmlGetters, OnlyTextAsFirstChildCounts) {
  Probe p(
      "<a><!-- note -->5</a><b><x>1</x>6</b><c/><d></d><e attr=\"9\"/><f>  7  </f>"
      "<g><![CDATA[8]]></g>");
  EXPECT_EQ(0u, p.UInt("a"));
  EXPECT_EQ("", p.Raw("a"));
  EXPECT_EQ(0u, p.UInt("b"));
  EXPECT_EQ("", p.Raw("b"));
  EXPECT_EQ("", p.Raw("c"));
  EXPECT_EQ("", p.Raw("d"));
  EXPECT_EQ(0u, p.UInt("e")) << "attributes are never read";
  EXPECT_EQ(7u, p.UInt("f"));
  EXPECT_EQ(8u, p.UInt("g"));
}

TEST(XmlGetters, NamesMatchExactlyAndTheFirstWins) {
  Probe p("<dup>1</dup><dup>2</dup><Case>3</Case>");
  EXPECT_EQ(1u, p.UInt("dup"));
  EXPECT_EQ(0u, p.UInt("case"));
  EXPECT_EQ(3u, p.UInt("Case"));
}

TEST(XmlGetters, TextIsCondensedAndEntitiesResolved) {
  Probe p("<a>  one   two\n three  </a><b>a &lt;b&gt; &amp; &quot;c&quot;</b>");
  EXPECT_EQ("one two three", p.Raw("a"));
  EXPECT_EQ("a <b> & \"c\"", p.Raw("b"));
}

TEST(XmlGetters, MaxCutsBytes) {
  Probe p("<a>abcdef</a>");
  EXPECT_EQ("abc", p.Raw("a", 3));
  EXPECT_EQ("abcdef", p.Raw("a", 0));
  EXPECT_EQ("abcdef", p.Raw("a", 6));
  EXPECT_EQ("abc", p.Str("a", 3));
}

TEST(XmlGetters, NoCurrentElementGivesEmptyAndZero) {
  class Bare : public CBasedTXmlParser {
   public:
    void Check() {
      TextBuf t;
      t.Assign("x");
      GetString("a", t, 0);
      EXPECT_STREQ("", t.CStr());
      uint32_t u = 9;
      GetUInt("a", u);
      EXPECT_EQ(0u, u);
      GetUInt(nullptr, u);
      EXPECT_EQ(0u, u);
    }
  } b;
  EXPECT_TRUE(b.NewDocument());
  b.Check();
}

TEST(XmlLogo, FieldsAndLimits) {
  std::string longName(300, 'n');
  CCustomXmlParse x;
  ASSERT_TRUE(x.LoadText(
      CustomXml("<logoOptions><customIcon>1</customIcon><CusIconName>" + longName +
                "</CusIconName><subAboutInfo>" + longName +
                "</subAboutInfo>"
                "<subTitle>Title</subTitle><bAddTrayIcon>1</bAddTrayIcon>"
                "<bHideIcon>2</bHideIcon><bHideShortcut>3</bHideShortcut><logIcon>-4</logIcon>"
                "<LogIconName>log.ico</LogIconName><subRightInfo>R</subRightInfo>"
                "<bHideSecStatus>5</bHideSecStatus><bCustomSkin>6</bCustomSkin>"
                "<skinIndex>65537</skinIndex></logoOptions>")
          .c_str()));
  LogoOptions l;
  x.FillLogoOptions(l);
  EXPECT_EQ(1, l.customIcon);
  EXPECT_EQ(std::string(260, 'n'), l.CusIconName.CStr());
  EXPECT_EQ(longName, l.subAboutInfo.CStr()) << "no limit";
  EXPECT_STREQ("Title", l.subTitle.CStr());
  EXPECT_EQ(1, l.bAddTrayIcon);
  EXPECT_EQ(2, l.bHideIcon);
  EXPECT_EQ(3, l.bHideShortcut);
  EXPECT_EQ(-4, l.logIcon);
  EXPECT_STREQ("log.ico", l.LogIconName.CStr());
  EXPECT_STREQ("R", l.subRightInfo.CStr());
  EXPECT_EQ(5, l.bHideSecStatus);
  EXPECT_EQ(6, l.bCustomSkin);
  EXPECT_EQ(1, l.skinIndex);
}

TEST(XmlUninstallInfo, PasswordStaysInItsStoredForm) {
  XmlFolder dir;
  std::string stored = StoredText("pw");
  std::string path = dir.Write("OlvanUninstallInfo.xml",
                               CustomXml("<uninstallInfo><uninstall>1</uninstall><uninstallPass>" +
                                         stored + "</uninstallPass></uninstallInfo>"));
  CCustomXmlParse x;
  UninstallInfo u;
  ASSERT_TRUE(x.ReadUninstallInfo(path.c_str(), u));
  EXPECT_EQ(1u, u.uninstall);
  EXPECT_EQ(stored, u.uninstallPass.CStr());
}

TEST(XmlUninstallInfo, PasswordTextIsCutTo128Bytes) {
  CCustomXmlParse x;
  ASSERT_TRUE(x.LoadText(CustomXml("<uninstallInfo><uninstallPass>" + std::string(200, 'A') +
                                   "</uninstallPass></uninstallInfo>")
                             .c_str()));
  UninstallInfo u;
  x.FillUninstallInfo(u);
  EXPECT_EQ(std::string(128, 'A'), u.uninstallPass.CStr());
}

TEST(XmlLoad, MissingFileFailsEveryTime) {
  XmlFolder dir;
  std::string path = dir.Path("OlvanCustom.xml");
  CCustomXmlParse x;
  FunctionOptions f;
  f.uninstall = 3;
  EXPECT_FALSE(x.ReadFunctions(path.c_str(), f));
  EXPECT_FALSE(x.ReadFunctions(path.c_str(), f)) << "a failed path is not remembered";
  EXPECT_EQ(3u, f.uninstall) << "record untouched";
  EXPECT_EQ(1u, f.dynamicVifInfo);
  // Once the file is there, the same object reads it.
  WriteFunctions(dir, "<uninstall>1</uninstall>");
  EXPECT_TRUE(x.ReadFunctions(path.c_str(), f));
  EXPECT_EQ(1u, f.uninstall);
}

TEST(XmlLoad, UnparsableFileFailsAndLeavesAnEmptyDocument) {
  XmlFolder dir;
  std::string path = dir.Write("bad.xml", "<msg><content><functions><uninstall>1</uninstall>");
  std::string empty = dir.Write("empty.xml", "");
  CCustomXmlParse x;
  FunctionOptions f;
  EXPECT_FALSE(x.ReadFunctions(path.c_str(), f));
  EXPECT_FALSE(x.ReadFunctions(path.c_str(), f));
  EXPECT_FALSE(x.ReadFunctions(empty.c_str(), f));
  EXPECT_EQ(0u, f.uninstall);
}

TEST(XmlLoad, SamePathIsReadFromDiskOnce) {
  XmlFolder dir;
  std::string path = WriteFunctions(dir, "<uninstall>1</uninstall>");
  CCustomXmlParse x;
  FunctionOptions f;
  ASSERT_TRUE(x.ReadFunctions(path.c_str(), f));
  EXPECT_EQ(1u, f.uninstall);
  WriteFunctions(dir, "<uninstall>2</uninstall>");
  FunctionOptions g;
  ASSERT_TRUE(x.ReadFunctions(path.c_str(), g));
  EXPECT_EQ(1u, g.uninstall) << "the document in memory, not the file";
  std::filesystem::remove(path);
  EXPECT_TRUE(x.Load(path.c_str()));
  // Another path, or a Reset, reads the disk again.
  x.Reset();
  EXPECT_FALSE(x.Load(path.c_str()));
}

TEST(XmlLoad, EmptyOrMissingPathFails) {
  CCustomXmlParse x;
  EXPECT_FALSE(x.Load(""));
  EXPECT_FALSE(x.Load(nullptr));
  FunctionOptions f;
  EXPECT_FALSE(x.ReadFunctions("", f));
}

TEST(XmlLoad, DifferentPathReloads) {
  XmlFolder dir;
  std::string a = dir.Write("a.xml", CustomXml("<functions><uninstall>1</uninstall></functions>"));
  std::string b = dir.Write("b.xml", CustomXml("<functions><uninstall>2</uninstall></functions>"));
  CCustomXmlParse x;
  FunctionOptions f;
  ASSERT_TRUE(x.ReadFunctions(a.c_str(), f));
  EXPECT_EQ(1u, f.uninstall);
  ASSERT_TRUE(x.ReadFunctions(b.c_str(), f));
  EXPECT_EQ(2u, f.uninstall);
  ASSERT_TRUE(x.ReadFunctions(a.c_str(), f));
  EXPECT_EQ(1u, f.uninstall);
}

TEST(XmlLoad, CarriageReturnLineEndsAndByteOrderMark) {
  XmlFolder dir;
  std::string path = dir.Write("crlf.xml",
                               "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<msg>\r\n"
                               "<content>\r\n<functions>\r\n<uninstall>\r\n1\r\n</uninstall>\r\n"
                               "</functions>\r\n</content>\r\n</msg>\r\n");
  CCustomXmlParse x;
  FunctionOptions f;
  ASSERT_TRUE(x.ReadFunctions(path.c_str(), f));
  EXPECT_EQ(1u, f.uninstall);
}

TEST(XmlLoad, LoadTextRemembersNoPath) {
  CCustomXmlParse x;
  EXPECT_TRUE(x.LoadText(CustomXml("<functions/>").c_str()));
  EXPECT_FALSE(x.Load(""));
  EXPECT_FALSE(x.LoadText("<msg>"));
  EXPECT_FALSE(x.LoadText(nullptr));
}

TEST(XmlLoad, TextEndingInsideAMultiByteCharacterIsReadSafely) {
  // TinyXML steps over the three bytes that 0xED announces even past the end of the text;
  // under AddressSanitizer this proves that it never leaves the buffer.
  for (const char* tail : {"\xED", "\xED\x9F", "\xF0", "\xC3"}) {
    std::string text =
        "<?xml version=\"1.0\" "
        "encoding=\"UTF-8\"?><msg><content><functions><uninstall>1</uninstall>"
        "<x>abc" +
        std::string(tail);
    CCustomXmlParse x;
    // The elements are never closed: the text does not parse, from memory or from a file,
    // and the record keeps what it held.
    EXPECT_FALSE(x.LoadText(text.c_str()));
    XmlFolder dir;
    std::string path = dir.Write("tail.xml", text);
    FunctionOptions f;
    f.uninstall = 7;
    EXPECT_FALSE(x.ReadFunctions(path.c_str(), f));
    EXPECT_EQ(f.uninstall, 7u);
  }
}

TEST(XmlLoad, FileEndsAtItsFirstNul) {
  XmlFolder dir;
  std::string text = CustomXml("<functions><uninstall>1</uninstall></functions>");
  std::string path = dir.Write("embedded-zero.xml", text + std::string(1, '\0') + "<more>\xED");
  CCustomXmlParse x;
  FunctionOptions f;
  ASSERT_TRUE(x.ReadFunctions(path.c_str(), f));
  EXPECT_EQ(1u, f.uninstall);
  path = dir.Write("embedded-zero2.xml", "<msg><content><functions><uninstall>1\xED" +
                                             std::string(1, '\0') +
                                             "</uninstall></functions></content></msg>");
  CCustomXmlParse y;
  EXPECT_FALSE(y.ReadFunctions(path.c_str(), f)) << "nothing behind the NUL is parsed";
}

TEST(XmlLoad, FileAbove1MiBCountsAsOneThatCannotBeLoaded) {
  XmlFolder dir;
  std::string text = CustomXml("<functions><uninstall>1</uninstall></functions>");
  std::string padded = text + std::string((1u << 20) - text.size(), ' ');
  CCustomXmlParse x;
  FunctionOptions f;
  EXPECT_TRUE(x.ReadFunctions(dir.Write("1mib.xml", padded).c_str(), f)) << "1 MiB is read";
  CCustomXmlParse y;
  EXPECT_FALSE(y.ReadFunctions(dir.Write("over.xml", padded + " ").c_str(), f));
}

TEST(XmlLoad, DeepNestingIsRefusedBeforeParsing) {
  // Nested this deep, TinyXML's recursive parser overflows the setup's stack.
  std::string deep;
  for (int i = 0; i < 14000; ++i) deep += "<a>";
  CCustomXmlParse x;
  EXPECT_FALSE(x.LoadText(deep.c_str()));
  XmlFolder dir;
  std::string path = dir.Write("deep.xml", deep);
  FunctionOptions f;
  EXPECT_FALSE(x.ReadFunctions(path.c_str(), f));
  // Markup cannot hide element starts from the count.
  std::string hidden;
  for (int i = 0; i < 5000; ++i) hidden += "<a b=\"</a>\"><!--";
  EXPECT_FALSE(x.LoadText(hidden.c_str()));
}

TEST(XmlLoad, DeepNestingIsRefusedWhateverByteFollowsTheAngle) {
  // TinyXML opens an element after '<' and 0x7F or any higher byte, and after letters; the
  // count must catch all of them. "</", "<!" and "<?" never open one, so never nest. One
  // level more than the limit, well formed where the byte makes a name.
  for (int b = 1; b < 256; ++b) {
    if (b == '/' || b == '!' || b == '?') continue;
    std::string name(1, static_cast<char>(b));
    std::string deep;
    for (int i = 0; i < 4097; ++i) deep += "<" + name + ">";
    for (int i = 0; i < 4097; ++i) deep += "</" + name + ">";
    CCustomXmlParse x;
    EXPECT_FALSE(x.LoadText(deep.c_str())) << "byte " << b;
  }
}

TEST(XmlLoad, NestingUpToTheLimitFitsTheStack) {
  std::string nested;
  for (int i = 0; i < 4096; ++i) nested += "<a>";
  for (int i = 0; i < 4096; ++i) nested += "</a>";
  CCustomXmlParse x;
  EXPECT_TRUE(x.LoadText(nested.c_str()));
}

TEST(XmlLoad, UpTo4096ElementsAreParsed) {
  auto doc = [](int fields) {
    std::string body;
    for (int i = 0; i < fields; ++i)
      body += "<f" + std::to_string(i) + ">1</f" + std::to_string(i) + ">";
    // msg, content and functions are three more elements.
    return CustomXml("<functions><uninstall>1</uninstall>" + body + "</functions>");
  };
  CCustomXmlParse x;
  FunctionOptions f;
  ASSERT_TRUE(x.LoadText(doc(4096 - 4).c_str()));
  x.FillFunctions(f);
  EXPECT_EQ(1u, f.uninstall);
  EXPECT_FALSE(x.LoadText(doc(4096 - 3).c_str()));
}

TEST(XmlDecimal, MatchesA32BitCLibrary) {
  EXPECT_EQ(0, DecimalToInt32(""));
  EXPECT_EQ(5, DecimalToInt32(" \t\n5"));
  EXPECT_EQ(-5, DecimalToInt32("-5x"));
  EXPECT_EQ(0, DecimalToInt32("- 5"));
  EXPECT_EQ(0u, DecimalToUInt32("+"));
  EXPECT_EQ(4294967294u, DecimalToUInt32("-2"));
  EXPECT_EQ(4294967295u, DecimalToUInt32("-4294967296"));
}

}  // namespace
