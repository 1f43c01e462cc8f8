#include "olvsign.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <random>

#include "custom/md5.h"
#include "custom/verify_digest.h"
#include "code_page.h"
#include "gate/cipher/pwd_cipher.h"
#include "tools/toolport/tool_io.h"
#include "util/wipe.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char kVersion[] = "olvsign 1.0";

const char kUsage[] =
    "Usage: olvsign <command> [options] [arguments]\n"
    "\n"
    "Commands:\n"
    "  sign CONTENT [VRF]     write the verification file of CONTENT\n"
    "  check CONTENT [VRF]    check CONTENT against its verification file\n"
    "  encrypt [--code-page N] [PASSWORD]\n"
    "                         print the stored text form of PASSWORD (read from\n"
    "                         standard input, one line, when not given)\n"
    "  decrypt [--code-page N] TEXT\n"
    "                         print the password held by a stored text\n"
    "  help                   print this text\n"
    "\n"
    "Options of sign and check:\n"
    "  --icon FILE            include the fingerprint of icon FILE (bytes 512-543), as\n"
    "                         Setup does for OlvanCustom.xml with a custom icon\n"
    "Options of sign:\n"
    "  --filler-seed TEXT     filler derived from TEXT (reproducible output)\n"
    "  --filler-file FILE     filler taken from FILE (exactly 240 bytes)\n"
    "                         (default: 240 random bytes)\n"
    "\n"
    "Passwords are typed in UTF-8. Setup's dialog sees the bytes of the client's ANSI code\n"
    "page: a password that is not plain ASCII needs --code-page N (1252 Western, 936\n"
    "Chinese) and is converted to that code page. The dialog takes at most 32 bytes, so\n"
    "longer passwords are refused.\n"
    "\n"
    "VRF defaults to the verification file that Setup pairs with CONTENT's name, in the\n"
    "same folder:\n"
    "  OlvanCustom.ini -> OlvanCustom.vrf        OlvanCustom.xml -> OlvanCustomXml.vrf\n"
    "  OlvanUninstallInfo.ini -> OlvanUninstallInfo.vrf\n"
    "  OlvanUninstallInfo.xml -> OlvanUninstallInfoXml.vrf\n"
    "\n"
    "Exit codes: 0 done or proven; 1 not proven, not a stored password, password too\n"
    "long or not in the code page; 2 bad command line; 3 a file cannot be read, written or used.\n";

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string DirPart(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
bool SameNameIgnoringCase(const std::string& a, const char* b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The verification file Setup pairs with content's name; empty for other names.
std::string DefaultVrf(const std::string& content) {
  for (const VerifiedPair& p : kVerifiedPairs)
    if (SameNameIgnoringCase(BaseName(content), p.content)) return DirPart(content) + p.vrf;
  return std::string();
}

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::string& path, Bytes* data) {
  File f(OpenFile(path, "rb"));
  if (!f) return false;
  data->clear();
  unsigned char buf[65536];
  size_t got;
  while ((got = fread(buf, 1, sizeof buf, f.get())) > 0) data->insert(data->end(), buf, buf + got);
  return !ferror(f.get());
}

// Writes through a temporary file renamed into place, so that a failure never leaves a
// half-written verification file.
bool WriteFile(const std::string& path, const Bytes& data) {
  std::string tmp = path + ".tmp";
  std::error_code ec;
  File f(OpenFile(tmp, "wb"));
  if (!f) return false;
  bool ok = fwrite(data.data(), 1, data.size(), f.get()) == data.size();
  ok = fflush(f.get()) == 0 && ok;
  f.reset();
  if (ok) std::filesystem::rename(PathOf(tmp), PathOf(path), ec);
  if (!ok || ec) {
    std::filesystem::remove(PathOf(tmp), ec);
    return false;
  }
  return true;
}

struct Options {
  std::vector<std::string> positional;
  std::string icon, fillerSeed, fillerFile;
  bool haveIcon = false, haveSeed = false, haveFillerFile = false;
};

// Splits args after the command into options and positional arguments. False (message
// written) on an unknown option or a missing value.
bool ParseOptions(const std::vector<std::string>& args, bool signOptions, Options* o,
                  std::ostream& err) {
  bool onlyPositional = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyPositional || a.empty() || a[0] != '-' || a == "-") {
      o->positional.push_back(a);
      continue;
    }
    if (a == "--") {
      onlyPositional = true;
      continue;
    }
    std::string* value = nullptr;
    bool* flag = nullptr;
    if (a == "--icon") {
      value = &o->icon, flag = &o->haveIcon;
    } else if (signOptions && a == "--filler-seed") {
      value = &o->fillerSeed, flag = &o->haveSeed;
    } else if (signOptions && a == "--filler-file") {
      value = &o->fillerFile, flag = &o->haveFillerFile;
    } else {
      err << "olvsign " << args[0] << ": unknown option " << a << "\n";
      return false;
    }
    if (i + 1 >= args.size()) {
      err << "olvsign " << args[0] << ": " << a << " needs a value\n";
      return false;
    }
    *value = args[++i];
    *flag = true;
  }
  return true;
}

// The icon fingerprint Setup would use: bytes 512 to 543 of the icon, or the default when
// the icon is shorter. False (message written) when the icon cannot be read.
bool Fingerprint(const Options& o, const std::string& content, Bytes* fp, std::ostream& err) {
  fp->assign(kIconFingerprintSize, 0);
  DefaultIconFingerprint(fp->data());
  if (!o.haveIcon) return true;
  Bytes icon;
  if (!ReadFile(o.icon, &icon)) {
    err << "olvsign: cannot read icon " << o.icon << "\n";
    return false;
  }
  if (!SameNameIgnoringCase(BaseName(content), kIconPairContent))
    err << "olvsign: warning: Setup checks an icon only for " << kIconPairContent << "\n";
  if (!IconFingerprintFromHead(icon.data(), icon.size(), fp->data()))
    err << "olvsign: warning: " << o.icon << " has " << icon.size() << " bytes, fewer than "
        << kMinIconSize << "; Setup uses the default fingerprint for it, and so does this file\n";
  return true;
}

// CONTENT and VRF from the positional arguments. False (message written) on a usage error.
bool ContentAndVrf(const std::vector<std::string>& args, const Options& o, std::string* content,
                   std::string* vrf, std::ostream& err) {
  if (o.positional.empty() || o.positional.size() > 2) {
    err << "olvsign " << args[0] << ": expects CONTENT [VRF]; see olvsign help\n";
    return false;
  }
  *content = o.positional[0];
  *vrf = o.positional.size() == 2 ? o.positional[1] : DefaultVrf(*content);
  if (vrf->empty()) {
    err << "olvsign " << args[0] << ": " << BaseName(*content)
        << " is not a name Setup verifies; give the verification file as the second argument\n";
    return false;
  }
  return true;
}

bool ReadContent(const std::string& path, Bytes* data, std::ostream& err) {
  if (!ReadFile(path, data)) {
    err << "olvsign: cannot read " << path << "\n";
    return false;
  }
  if (data->size() > kMaxVerifiedContent) {
    err << "olvsign: " << path << " has " << data->size()
        << " bytes; Setup proves files of at most " << kMaxVerifiedContent << " bytes\n";
    return false;
  }
  return true;
}

int Sign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!ParseOptions(args, true, &o, err)) return kExitUsage;
  if (o.haveSeed && o.haveFillerFile) {
    err << "olvsign sign: give --filler-seed or --filler-file, not both\n";
    return kExitUsage;
  }
  std::string content, vrf;
  if (!ContentAndVrf(args, o, &content, &vrf, err)) return kExitUsage;

  Bytes filler;
  if (o.haveSeed) {
    filler = FillerFromSeed(o.fillerSeed);
  } else if (o.haveFillerFile) {
    if (!ReadFile(o.fillerFile, &filler)) {
      err << "olvsign: cannot read filler " << o.fillerFile << "\n";
      return kExitFile;
    }
    if (filler.size() != kVrfFillerSize) {
      err << "olvsign: filler " << o.fillerFile << " has " << filler.size() << " bytes, not "
          << kVrfFillerSize << "\n";
      return kExitFile;
    }
  } else {
    std::random_device rd;
    filler.resize(kVrfFillerSize);
    for (unsigned char& b : filler) b = static_cast<unsigned char>(rd());
  }

  Bytes data, fp;
  if (!ReadContent(content, &data, err)) return kExitFile;
  if (!Fingerprint(o, content, &fp, err)) return kExitFile;
  Bytes image(kVrfFileSize);
  if (!MakeVerificationImage(data.data(), data.size(), filler.data(), fp.data(), image.data())) {
    err << "olvsign: cannot compute the digest of " << content << "\n";
    return kExitFile;
  }
  if (!WriteFile(vrf, image)) {
    err << "olvsign: cannot write " << vrf << "\n";
    return kExitFile;
  }
  out << "signed " << content << " -> " << vrf << "\n";
  return kExitOk;
}

int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!ParseOptions(args, false, &o, err)) return kExitUsage;
  std::string content, vrf;
  if (!ContentAndVrf(args, o, &content, &vrf, err)) return kExitUsage;
  Bytes image, data, fp;
  if (!ReadFile(vrf, &image)) {
    err << "olvsign: cannot read " << vrf << "\n";
    return kExitFile;
  }
  if (!ReadFile(content, &data)) {
    err << "olvsign: cannot read " << content << "\n";
    return kExitFile;
  }
  if (!Fingerprint(o, content, &fp, err)) return kExitFile;
  std::string why;
  if (image.size() != kVrfFileSize) {
    why = vrf + " has " + std::to_string(image.size()) + " bytes, not " +
          std::to_string(kVrfFileSize);
  } else if (data.size() > kMaxVerifiedContent) {
    why = content + " has " + std::to_string(data.size()) + " bytes, more than " +
          std::to_string(kMaxVerifiedContent);
  } else if (!CheckVerificationImage(data.data(), data.size(), image.data(), fp.data())) {
    why = "the digest differs";
  }
  if (!why.empty()) {
    out << "NOT proven: " << content << " by " << vrf << ": " << why << "\n";
    return kExitRefused;
  }
  out << "proven: " << content << " by " << vrf << "\n";
  return kExitOk;
}

// The password options of encrypt and decrypt: "--code-page N" and one positional argument.
struct PwdArgs {
  int codePage = 0;  // 0: none given
  std::vector<std::string> positional;
};

bool ParsePwdArgs(const std::vector<std::string>& args, PwdArgs* p, std::ostream& err) {
  bool onlyPositional = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!onlyPositional && a == "--") {
      onlyPositional = true;
    } else if (!onlyPositional && a == "--code-page") {
      char* end = nullptr;
      long cp = i + 1 < args.size() ? strtol(args[i + 1].c_str(), &end, 10) : 0;
      if (i + 1 >= args.size() || *end != '\0' || cp <= 0 || cp > 65535) {
        err << "olvsign " << args[0]
            << ": --code-page needs a Windows code page number (1252, 936...)\n";
        return false;
      }
      p->codePage = static_cast<int>(cp);
      ++i;
    } else {
      p->positional.push_back(a);
    }
  }
  return true;
}

const char kCodePageHint[] =
    "give --code-page N, the ANSI code page of the client's Windows (1252 on Western systems, "
    "936 on Chinese ones), in which the setup's dialog sees what the user types";

int Encrypt(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
            std::ostream& err) {
  PwdArgs p;
  if (!ParsePwdArgs(args, &p, err)) return kExitUsage;
  if (p.positional.size() > 1) {
    err << "olvsign encrypt: expects at most one PASSWORD; see olvsign help\n";
    return kExitUsage;
  }
  std::string password;
  if (p.positional.size() == 1 && p.positional[0] != "-") {
    password = p.positional[0];
  } else {
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }
  std::string bytes;
  std::string why;
  bool converted = true;
  if (p.codePage != 0) {
    converted = Utf8ToCodePage(password, p.codePage, &bytes, &why);
  } else if (IsPlainAscii(password)) {
    bytes = password;
  } else {
    why = std::string("the password is not plain ASCII; ") + kCodePageHint;
    converted = false;
  }
  WipeBytes(&password[0], static_cast<unsigned>(password.size()));
  if (!converted) {
    WipeBytes(&bytes[0], static_cast<unsigned>(bytes.size()));
    err << "olvsign encrypt: " << why << "\n";
    return p.codePage != 0 && why.find("not known") == std::string::npos ? kExitRefused
                                                                         : kExitUsage;
  }
  if (bytes.size() > kMaxTypedPwdBytes) {
    size_t n = bytes.size();
    WipeBytes(&bytes[0], static_cast<unsigned>(n));
    err << "olvsign encrypt: the password has " << n << " bytes"
        << (p.codePage != 0 ? " in code page " + std::to_string(p.codePage) : std::string())
        << "; the setup's dialog takes at most " << kMaxTypedPwdBytes
        << ", so a longer stored password could never be typed and would lock every upgrade\n";
    return kExitRefused;
  }
  char text[kStoredPwdTextSize] = {0};
  int rc = DesBase64Encrypt(text, sizeof text, reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<unsigned>(bytes.size()));
  WipeBytes(&bytes[0], static_cast<unsigned>(bytes.size()));
  if (rc != kPwdOk) {
    err << "olvsign encrypt: failed (code " << rc << ")\n";
    return kExitRefused;
  }
  out << text << "\n";
  return kExitOk;
}

int Decrypt(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  PwdArgs p;
  if (!ParsePwdArgs(args, &p, err)) return kExitUsage;
  if (p.positional.size() != 1) {
    err << "olvsign decrypt: expects one TEXT; see olvsign help\n";
    return kExitUsage;
  }
  const std::string& text = p.positional[0];
  // The decoded bytes never outnumber the text's characters.
  std::vector<unsigned char> plain(text.size() + 1, 0);
  unsigned count = static_cast<unsigned>(text.size());
  int rc = DesBase64Decrypt(plain.data(), &count, text.c_str());
  switch (rc) {
    case kPwdOk: {
      std::string bytes(reinterpret_cast<const char*>(plain.data()), count), shown, why;
      WipeBytes(plain.data(), static_cast<unsigned>(plain.size()));
      bool ok = true;
      if (p.codePage != 0) {
        ok = CodePageToUtf8(bytes, p.codePage, &shown, &why);
      } else if (IsPlainAscii(bytes)) {
        shown = bytes;
      } else {
        ok = false;
        why = std::string("the password is not plain ASCII; ") + kCodePageHint;
      }
      WipeBytes(&bytes[0], static_cast<unsigned>(bytes.size()));
      if (ok) out << shown << "\n";
      WipeBytes(&shown[0], static_cast<unsigned>(shown.size()));
      if (ok) return kExitOk;
      err << "olvsign decrypt: " << why << "\n";
      return p.codePage != 0 && why.find("not known") == std::string::npos ? kExitRefused
                                                                           : kExitUsage;
    }
    case kPwdNoMemory: err << "olvsign decrypt: the text is empty\n"; break;
    case kPwdBadBase64: err << "olvsign decrypt: the text is not valid Base64\n"; break;
    case kPwdBadCipher:
      err << "olvsign decrypt: the text is not a stored password (it does not decrypt to a valid "
             "length)\n";
      break;
    default: err << "olvsign decrypt: failed (code " << rc << ")\n"; break;
  }
  return kExitRefused;
}

}  // namespace

std::vector<unsigned char> FillerFromSeed(const std::string& seed) {
  Bytes filler;
  for (unsigned block = 0; filler.size() < kVrfFillerSize; ++block) {
    Md5Context ctx;
    Md5Init(&ctx);
    Md5Update(&ctx, seed.data(), seed.size());
    unsigned char n = static_cast<unsigned char>(block);
    Md5Update(&ctx, &n, 1);
    unsigned char d[kMd5DigestSize];
    Md5Final(&ctx, d);
    filler.insert(filler.end(), d, d + kMd5DigestSize);
  }
  filler.resize(kVrfFillerSize);
  return filler;
}

int RunOlvsign(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& cmd = args[0];
  if (cmd == "help" || cmd == "--help" || cmd == "-h") {
    out << kUsage;
    return kExitOk;
  }
  if (cmd == "--version") {
    out << kVersion << "\n";
    return kExitOk;
  }
  if (std::find(args.begin() + 1, args.end(), "--help") != args.end()) {
    out << kUsage;
    return kExitOk;
  }
  if (cmd == "sign") return Sign(args, out, err);
  if (cmd == "check") return Check(args, out, err);
  if (cmd == "encrypt") return Encrypt(args, in, out, err);
  if (cmd == "decrypt") return Decrypt(args, out, err);
  err << "olvsign: unknown command " << cmd << "; see olvsign help\n";
  return kExitUsage;
}
