// The customization and uninstall-information files in XML form: root "msg", then
// "content", then one element per section; each field is a child element of its section
// whose first child is the field's text. Read-only.
#pragma once
#include <stdint.h>

#include "util/text_buf.h"
#include "xml/xml_parser.h"

// Section "logoOptions". Texts are in the program's narrow text (ansi_text.h).
struct LogoOptions {
  int32_t customIcon = 0;
  TextBuf CusIconName;  // at most 260 bytes of the file's text
  TextBuf subAboutInfo;
  TextBuf subTitle;  // at most 260 bytes of the file's text
  int32_t bAddTrayIcon = 0;
  int32_t bHideIcon = 0;
  int32_t bHideShortcut = 0;
  int32_t logIcon = 0;
  TextBuf LogIconName;  // at most 260 bytes of the file's text
  TextBuf subRightInfo;
  int32_t bHideSecStatus = 0;
  int32_t bCustomSkin = 0;
  uint16_t skinIndex = 0;
};

// Section "uninstallInfo".
struct UninstallInfo {
  uint32_t uninstall = 0;
  TextBuf uninstallPass;  // at most 128 bytes of the file's text, as stored (not decrypted)
};

// Section "functions". Fields marked "only when X" are read only when X is not 0.
struct FunctionOptions {
  uint32_t renameConn = 0;
  uint32_t arp = 0;
  uint32_t dhcp = 0;
  uint32_t wanControl = 0;
  uint32_t acl = 0;
  uint32_t uninstall = 0;
  uint32_t remindPopSecUI = 0;
  uint32_t AutoHideSecUI = 0;
  uint32_t userFromCert = 0;
  uint32_t blackBox = 0;
  uint32_t disableExit = 0;
  uint32_t patchARV = 0;
  uint32_t url = 0;
  uint32_t autoReboot = 0;
  uint32_t disablePap = 0;
  uint32_t ssid = 0;
  uint32_t forbidMdyIp = 0;
  uint32_t drvErr = 0;
  uint32_t dynamicPwdVerify = 0;
  uint32_t msgAuthOpt = 0;
  uint32_t macsec = 0;
  uint32_t iESiOSDK = 0;
  uint32_t usbreadonly = 0;
  uint32_t pwdhint = 0;
  uint32_t NotShowNotify = 0;
  uint32_t showCenterNotify = 0;
  uint32_t NotShowNotifyNotShow = 0;
  uint32_t userNameHideOpt = 0;
  uint32_t certissuer = 0;
  uint32_t ShowDetail = 0;
  uint32_t UseGeolocation = 0;
  uint32_t passwordProtection = 0;
  // The plain password: the file's stored text (at most 128 bytes of it) decrypted; empty
  // when it does not decrypt.
  TextBuf uninstallPassword;
  uint32_t userNameLenFromCert = 0;
  TextBuf userFromExtendPro;  // at most 32 bytes of the file's text
  uint32_t dynamicVifInfo = 1;
  uint32_t msgAuthInfo = 1;       // only when msgAuthOpt
  TextBuf msgAuthServIP;          // only when msgAuthOpt
  uint32_t msgAuthServPort = 0;   // only when msgAuthOpt
  TextBuf pwdhintinfo;            // only when pwdhint
  uint32_t userNameHideFrom = 0;  // only when userNameHideOpt
  uint32_t userNameHideNum = 0;   // only when userNameHideOpt
  TextBuf certissuerinfo;         // only when certissuer
};

class CCustomXmlParse : public CBasedTXmlParser {
 public:
  CCustomXmlParse();
  ~CCustomXmlParse() override;

  // Clears the document, the current element and the loaded path.
  void Reset();
  // Reads the file at path whole (CR LF and a lone CR become LF) and parses it into the
  // document (default encoding).
  // The path of the file last loaded is remembered: loading it again reads nothing and
  // answers true. False for a missing or empty path and for a file that cannot be opened
  // or parsed or has more than 4096 possible element starts (every '<' not followed by '/',
  // '!' or '?'); the document is then empty and no path is remembered, so that the next
  // call reads the disk again.
  bool Load(const char* path);
  // Parses XML text held in memory into the document; remembers no path. False, document
  // empty, when the text does not parse or has more than 4096 possible element starts (as
  // for Load). Line ends are taken as they are (a CR counts as white space).
  bool LoadText(const char* text);
  // Reset, then the skeleton document (an empty "content" inside "msg"), with "content" as
  // the current element.
  void InitDocument() override;

  // Section readers: Load(path), then the section's fields into the record. False when the
  // file does not load; the record is then untouched. A missing section leaves the record
  // untouched and answers true; a missing field reads as 0 or empty.
  bool ReadLogoOptions(const char* path, LogoOptions& rec);
  bool ReadFunctions(const char* path, FunctionOptions& rec);
  bool ReadUninstallInfo(const char* path, UninstallInfo& rec);

  // The same readers on the document as it is (after Load or LoadText).
  void FillLogoOptions(LogoOptions& rec);
  void FillFunctions(FunctionOptions& rec);
  void FillUninstallInfo(UninstallInfo& rec);

 private:
  // Makes msg/content/<name> the current element; false when any link is missing.
  bool SelectSection(const char* name);
  // Parses text (with zero bytes behind it, see the .cpp) into the emptied document; on
  // failure empties it again.
  bool ParseText(const char* text);

  TextBuf loadedPath_;
};
