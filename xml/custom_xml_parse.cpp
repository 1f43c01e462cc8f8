#include "xml/custom_xml_parse.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gate/cipher/pwd_cipher.h"
#include "util/wipe.h"

namespace {
const char kSkeleton[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><msg><content></content></msg>";
const char kRoot[] = "msg";
const char kContent[] = "content";

// Largest customization file that is read, in bytes. A verification file never proves
// more than 40,588 bytes, and hundreds of megabytes would make the parser's allocations
// fail and end the process; a larger file counts as one that cannot be loaded.
const unsigned long kMaxXmlFile = 1ul << 20;

const uint16_t kMaxNameText = 260;
const uint16_t kMaxExtendProText = 32;

// Zero bytes kept behind every text handed to TinyXML. Its parser steps over a multi-byte
// UTF-8 character by the length its first byte announces, also when the text ends inside
// it, and then reads on; with this many zeros behind the end it reads only zeros and stops.
const size_t kParsePadding = 8;

// TinyXML parses nested elements recursively, so nesting depth costs stack: some 14,000
// levels overflow the setup's 2 MB stack. Nothing else in its parser recurses (comments,
// CDATA, declarations, unknown tags and attributes are read in loops), so the depth is at
// most the number of element starts: each level starts at a '<' behind its parent's (the
// parser may step over bytes, as in a UTF-8 sequence, but never sees a '<' that is not
// there). Deleting the document recurses per level too, over no more levels than were
// parsed. A text with more possible element starts than this is refused; customization
// files hold about a hundred elements.
const unsigned kMaxElements = 4096;

// Counts every '<' that TinyXML could take for an element start, whatever the encoding.
// It makes an element only where the byte after '<' is '_' or passes its IsAlpha, which
// takes every byte from 0x7F up (and, below that, what isalpha says, which the program
// never widens by changing the locale). So rather than guess which bytes are letters, only
// the three kinds of '<' that can never open an element are left out: "</" (an end tag),
// "<!" (comment, CDATA or unknown tag) and "<?" (declaration or unknown tag).
bool FewEnoughElements(const char* text) {
  unsigned n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p != '<') continue;
    unsigned char c = p[1];
    if (c == '/' || c == '!' || c == '?') continue;
    if (++n > kMaxElements) return false;
  }
  return true;
}

// A text for the parser: its bytes up to the first NUL, with kParsePadding zero bytes
// behind. Frees itself.
class ParseBuffer {
 public:
  ~ParseBuffer() { free(p_); }
  // Room for n bytes of text; false when memory runs out or n cannot be counted.
  bool Allocate(size_t n) {
    if (n > static_cast<size_t>(-1) - kParsePadding - 1) return false;
    p_ = static_cast<char*>(calloc(n + kParsePadding + 1, 1));
    size_ = n;
    return p_ != nullptr;
  }
  char* Data() { return p_; }
  // Line ends as TinyXML's file loader leaves them (CR LF and a lone CR become LF); the
  // text ends at its first NUL and everything behind it becomes zero.
  void NormalizeLineEnds() {
    const char* r = p_;
    char* w = p_;
    while (*r) {
      if (*r == '\r') {
        *w++ = '\n';
        if (*++r == '\n') ++r;
      } else {
        *w++ = *r++;
      }
    }
    memset(w, 0, static_cast<size_t>(p_ + size_ + kParsePadding + 1 - w));
  }

 private:
  char* p_ = nullptr;
  size_t size_ = 0;
};

// The whole file at path into buf; false when it cannot be opened or read, or is empty
// (as TinyXML's own loader has it), or is larger than kMaxXmlFile.
bool ReadWholeFile(const char* path, ParseBuffer& buf) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  bool ok = false;
  long length = -1;
  if (fseek(f, 0, SEEK_END) == 0) length = ftell(f);
  if (length > 0 && static_cast<unsigned long>(length) <= kMaxXmlFile &&
      fseek(f, 0, SEEK_SET) == 0 && buf.Allocate(static_cast<size_t>(length)))
    ok = fread(buf.Data(), static_cast<size_t>(length), 1, f) == 1;
  fclose(f);
  return ok;
}
}  // namespace

CCustomXmlParse::CCustomXmlParse() {}

CCustomXmlParse::~CCustomXmlParse() { loadedPath_.Clear(); }

void CCustomXmlParse::Reset() {
  doc_.Clear();
  doc_.ClearError();
  current_ = nullptr;
  loadedPath_.Clear();
}

bool CCustomXmlParse::Load(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  if (loadedPath_.Length() != 0 && strcmp(loadedPath_.CStr(), path) == 0) return true;
  Reset();
  // The file is read here rather than by TinyXML's loader so that the parser gets a
  // padded buffer; the text it parses is the same.
  ParseBuffer buf;
  if (!ReadWholeFile(path, buf)) return false;
  buf.NormalizeLineEnds();
  if (!ParseText(buf.Data())) return false;
  // Without the path remembered the next Load merely reads the file again.
  loadedPath_.Assign(path);
  return true;
}

bool CCustomXmlParse::LoadText(const char* text) {
  Reset();
  if (text == nullptr) return false;
  ParseBuffer buf;
  size_t n = strlen(text);
  if (!buf.Allocate(n)) return false;
  memcpy(buf.Data(), text, n);
  return ParseText(buf.Data());
}

bool CCustomXmlParse::ParseText(const char* text) {
  if (!FewEnoughElements(text)) return false;
  doc_.Parse(text, nullptr, TIXML_DEFAULT_ENCODING);
  if (doc_.Error()) {
    Reset();
    return false;
  }
  return true;
}

void CCustomXmlParse::InitDocument() {
  Reset();
  doc_.Parse(kSkeleton, nullptr, TIXML_DEFAULT_ENCODING);
  current_ = TiXmlHandle(&doc_).FirstChildElement(kRoot).FirstChildElement(kContent).ToElement();
}

bool CCustomXmlParse::SelectSection(const char* name) {
  current_ = TiXmlHandle(&doc_)
                 .FirstChildElement(kRoot)
                 .FirstChildElement(kContent)
                 .FirstChildElement(name)
                 .ToElement();
  return current_ != nullptr;
}

bool CCustomXmlParse::ReadLogoOptions(const char* path, LogoOptions& rec) {
  if (!Load(path)) return false;
  FillLogoOptions(rec);
  return true;
}

bool CCustomXmlParse::ReadFunctions(const char* path, FunctionOptions& rec) {
  if (!Load(path)) return false;
  FillFunctions(rec);
  return true;
}

bool CCustomXmlParse::ReadUninstallInfo(const char* path, UninstallInfo& rec) {
  if (!Load(path)) return false;
  FillUninstallInfo(rec);
  return true;
}

void CCustomXmlParse::FillLogoOptions(LogoOptions& rec) {
  if (!SelectSection("logoOptions")) return;
  GetInt("customIcon", rec.customIcon);
  GetInt("logIcon", rec.logIcon);
  GetString("CusIconName", rec.CusIconName, kMaxNameText);
  GetString("LogIconName", rec.LogIconName, kMaxNameText);
  GetString("subAboutInfo", rec.subAboutInfo, 0);
  GetString("subTitle", rec.subTitle, kMaxNameText);
  GetString("subRightInfo", rec.subRightInfo, 0);
  GetInt("bAddTrayIcon", rec.bAddTrayIcon);
  GetInt("bHideIcon", rec.bHideIcon);
  GetInt("bHideSecStatus", rec.bHideSecStatus);
  GetInt("bHideShortcut", rec.bHideShortcut);
  GetInt("bCustomSkin", rec.bCustomSkin);
  GetShort("skinIndex", rec.skinIndex);
}

void CCustomXmlParse::FillUninstallInfo(UninstallInfo& rec) {
  if (!SelectSection("uninstallInfo")) return;
  GetString("uninstallPass", rec.uninstallPass, kStoredPwdTextSize);
  GetUInt("uninstall", rec.uninstall);
}

void CCustomXmlParse::FillFunctions(FunctionOptions& rec) {
  if (!SelectSection("functions")) return;
  GetUInt("renameConn", rec.renameConn);
  GetUInt("arp", rec.arp);
  GetUInt("dhcp", rec.dhcp);
  GetUInt("wanControl", rec.wanControl);
  GetUInt("acl", rec.acl);
  GetUInt("uninstall", rec.uninstall);
  GetUInt("remindPopSecUI", rec.remindPopSecUI);
  GetUInt("AutoHideSecUI", rec.AutoHideSecUI);
  GetUInt("userFromCert", rec.userFromCert);
  GetUInt("blackBox", rec.blackBox);
  GetUInt("disableExit", rec.disableExit);
  GetUInt("patchARV", rec.patchARV);
  GetUInt("url", rec.url);
  GetUInt("autoReboot", rec.autoReboot);
  GetUInt("disablePap", rec.disablePap);
  GetUInt("ssid", rec.ssid);
  GetUInt("forbidMdyIp", rec.forbidMdyIp);
  GetUInt("drvErr", rec.drvErr);
  GetUInt("dynamicPwdVerify", rec.dynamicPwdVerify);
  GetUInt("msgAuthOpt", rec.msgAuthOpt);
  GetUInt("macsec", rec.macsec);
  GetUInt("iESiOSDK", rec.iESiOSDK);
  GetUInt("usbreadonly", rec.usbreadonly);
  GetUInt("pwdhint", rec.pwdhint);
  GetUInt("NotShowNotify", rec.NotShowNotify);
  GetUInt("showCenterNotify", rec.showCenterNotify);
  GetUInt("NotShowNotifyNotShow", rec.NotShowNotifyNotShow);
  GetUInt("userNameHideOpt", rec.userNameHideOpt);
  GetUInt("certissuer", rec.certissuer);
  GetUInt("ShowDetail", rec.ShowDetail);
  GetUInt("UseGeolocation", rec.UseGeolocation);
  GetUInt("passwordProtection", rec.passwordProtection);

  // The stored text decodes to at most 96 bytes; a text that does not decrypt leaves the
  // zero-filled buffer as it is, so the field comes out empty.
  TextBuf stored;
  GetString("uninstallPassword", stored, kStoredPwdTextSize);
  unsigned char plain[kStoredPwdTextSize + 1] = {0};
  unsigned count = kStoredPwdTextSize;
  DesBase64Decrypt(plain, &count, stored.CStr());
  rec.uninstallPassword.Clear();
  rec.uninstallPassword.Append(reinterpret_cast<const char*>(plain));
  WipeBytes(plain, sizeof plain);

  GetUInt("userNameLenFromCert", rec.userNameLenFromCert);
  GetString("userFromExtendPro", rec.userFromExtendPro, kMaxExtendProText);
  GetUInt("dynamicVifInfo", rec.dynamicVifInfo);
  if (rec.msgAuthOpt != 0) {
    GetUInt("msgAuthInfo", rec.msgAuthInfo);
    GetString("msgAuthServIP", rec.msgAuthServIP, 0);
    GetUInt("msgAuthServPort", rec.msgAuthServPort);
  }
  if (rec.pwdhint != 0) GetString("pwdhintinfo", rec.pwdhintinfo, 0);
  if (rec.userNameHideOpt != 0) {
    GetUInt("userNameHideFrom", rec.userNameHideFrom);
    GetUInt("userNameHideNum", rec.userNameHideNum);
  }
  if (rec.certissuer != 0) GetString("certissuerinfo", rec.certissuerinfo, 0);
}
