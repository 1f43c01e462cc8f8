// libFuzzer target: any text as a customization XML file through the three section
// readers, with the limits every record field keeps.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "xml/custom_xml_parse.h"

namespace {
void Require(bool ok) {
  if (!ok) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  CCustomXmlParse x;
  x.NewDocument();
  if (x.LoadText(text.c_str())) {
    LogoOptions logo;
    FunctionOptions functions;
    UninstallInfo uninstall;
    x.FillLogoOptions(logo);
    x.FillFunctions(functions);
    x.FillUninstallInfo(uninstall);
    // Natively the text conversion keeps the bytes, so the cuts show unchanged.
    Require(logo.CusIconName.Length() <= 260);
    Require(logo.LogIconName.Length() <= 260);
    Require(logo.subTitle.Length() <= 260);
    Require(uninstall.uninstallPass.Length() <= 128);
    Require(functions.userFromExtendPro.Length() <= 32);
    Require(functions.uninstallPassword.Length() <= 96);
    if (functions.msgAuthOpt == 0)
      Require(functions.msgAuthInfo == 1 && functions.msgAuthServPort == 0);
  }
  x.Reset();
  return 0;
}
