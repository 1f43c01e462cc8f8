#include "code_page.h"

#include <stdio.h>

#include <algorithm>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <iconv.h>
#endif

namespace {

// The length in bytes of the UTF-8 sequence at byte at (cut at the text's end), and its code
// point in *cp.
size_t CharLength(const std::string& s, size_t at, unsigned* cp) {
  unsigned char c = static_cast<unsigned char>(s[at]);
  size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  if (at + len > s.size()) len = s.size() - at;
  *cp = len == 1 ? c : c & (0x3F >> (len - 1));
  for (size_t i = 1; i < len; ++i) *cp = *cp << 6 | (static_cast<unsigned char>(s[at + i]) & 0x3F);
  return len;
}

// The code point and the character of the UTF-8 sequence at byte at, for messages.
std::string CharAt(const std::string& s, size_t at) {
  unsigned cp = 0;
  size_t len = CharLength(s, at, &cp);
  char u[16];
  snprintf(u, sizeof u, "U+%04X", cp);
  return std::string(u) + " (" + s.substr(at, len) + ")";
}

}  // namespace

bool IsPlainAscii(const std::string& bytes) {
  for (unsigned char c : bytes)
    if (c >= 0x80) return false;
  return true;
}

#ifdef _WIN32

namespace {

// in converted by WideCharToMultiByte without best-fit mappings (they would turn "é" into
// "e" on a code page that lacks it); *usedDefault when a character had no exact mapping.
std::string ToCodePage(const std::wstring& in, int codePage, BOOL* usedDefault) {
  *usedDefault = FALSE;
  if (in.empty()) return std::string();
  int n = WideCharToMultiByte(static_cast<UINT>(codePage), WC_NO_BEST_FIT_CHARS, in.data(),
                              static_cast<int>(in.size()), nullptr, 0, nullptr, usedDefault);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(static_cast<UINT>(codePage), WC_NO_BEST_FIT_CHARS, in.data(),
                      static_cast<int>(in.size()), &out[0], n, nullptr, usedDefault);
  return out;
}

// An ANSI or OEM code page of this system: not UTF-7 or UTF-8, whose conversions take no
// best-fit flag.
bool KnownCodePage(int codePage) {
  return codePage != CP_UTF7 && codePage != CP_UTF8 && IsValidCodePage(static_cast<UINT>(codePage));
}

// False with *why set when valid UTF-8 text holds a C1 control character (U+0080 to U+009F)
// or a private-use one (U+E000 to U+F8FF). Windows maps some of them to bytes (0x81 in code
// page 1252, user-defined characters in 932 and 936) where iconv maps none, and nobody types
// them into a password: refused as the Linux tool refuses them.
bool NoUnsharedCharacter(const std::string& utf8, int codePage, std::string* why) {
  for (size_t at = 0, len = 0; at < utf8.size(); at += len) {
    unsigned cp = 0;
    len = CharLength(utf8, at, &cp);
    if ((cp >= 0x80 && cp <= 0x9F) || (cp >= 0xE000 && cp <= 0xF8FF)) {
      *why =
          "the character " + CharAt(utf8, at) + " is not in code page " + std::to_string(codePage);
      return false;
    }
  }
  return true;
}

std::string UnknownCodePage(int codePage) {
  return "code page " + std::to_string(codePage) + " is not known to this system";
}

}  // namespace

bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string* out, std::string* why) {
  int len = static_cast<int>(utf8.size());
  std::wstring wide;
  if (len > 0) {
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), len, nullptr, 0);
    if (n == 0) {
      *why = "the text is not valid UTF-8";
      return false;
    }
    wide.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), len, &wide[0], n);
  }
  if (!KnownCodePage(codePage)) {
    *why = UnknownCodePage(codePage);
    return false;
  }
  if (!NoUnsharedCharacter(utf8, codePage, why)) return false;
  BOOL usedDefault = FALSE;
  std::string bytes = ToCodePage(wide, codePage, &usedDefault);
  if (!usedDefault) {
    out->swap(bytes);
    std::fill(wide.begin(), wide.end(), 0);
    return true;
  }
  std::fill(bytes.begin(), bytes.end(), 0);
  // Name the first character without a mapping: convert one character (one or two UTF-16
  // units) at a time, stepping through the UTF-8 text alongside.
  size_t at = 0;
  for (size_t i = 0; i < wide.size(); ++i) {
    size_t units = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
    BOOL missing = FALSE;
    std::string one = ToCodePage(wide.substr(i, units), codePage, &missing);
    std::fill(one.begin(), one.end(), 0);
    if (missing) break;
    i += units - 1;
    unsigned char c = static_cast<unsigned char>(utf8[at]);
    at += c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  }
  std::fill(wide.begin(), wide.end(), 0);
  *why = "the character " + CharAt(utf8, at) + " is not in code page " + std::to_string(codePage);
  return false;
}

bool CodePageToUtf8(const std::string& bytes, int codePage, std::string* out, std::string* why) {
  if (!KnownCodePage(codePage)) {
    *why = UnknownCodePage(codePage);
    return false;
  }
  int len = static_cast<int>(bytes.size());
  std::wstring wide;
  if (len > 0) {
    int n = MultiByteToWideChar(static_cast<UINT>(codePage), MB_ERR_INVALID_CHARS, bytes.data(),
                                len, nullptr, 0);
    if (n == 0) {
      *why = "the bytes are not text in code page " + std::to_string(codePage);
      return false;
    }
    wide.resize(static_cast<size_t>(n));
    MultiByteToWideChar(static_cast<UINT>(codePage), MB_ERR_INVALID_CHARS, bytes.data(), len,
                        &wide[0], n);
  }
  int n = wide.empty() ? 0
                       : WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
  out->assign(static_cast<size_t>(n), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &(*out)[0], n,
                        nullptr, nullptr);
  std::fill(wide.begin(), wide.end(), 0);
  return true;
}

#else

namespace {

std::string IconvName(int codePage) { return "CP" + std::to_string(codePage); }

// Characters that code page 950 has twice: iconv writes the first pair of bytes, Windows the
// second, which is what the setup's dialog then sees.
struct ByteMapping {
  int codePage;
  unsigned codePoint;
  const char* bytes;
};
const ByteMapping kWindowsMappings[] = {
    {950, 0x2550, "\xF9\xF9"},
    {950, 0x255E, "\xF9\xE9"},
    {950, 0x2561, "\xF9\xEB"},
    {950, 0x256A, "\xF9\xEA"},
};

// True with *bytes set when Windows maps the character otherwise than iconv.
bool WindowsMapping(int codePage, unsigned codePoint, std::string* bytes) {
  for (const ByteMapping& m : kWindowsMappings) {
    if (m.codePage == codePage && m.codePoint == codePoint) {
      *bytes = m.bytes;
      return true;
    }
  }
  return false;
}

// Runs iconv over all of in. On failure *failedAt is the offset of the input byte where it
// stopped and the errno of that stop is returned; 0 on success.
int Convert(const char* from, const char* to, const std::string& in, std::string* out,
            size_t* failedAt, bool* unknown) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *unknown = true;
    return EINVAL;
  }
  std::vector<char> buf(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = buf.data();
  size_t dstLeft = buf.size();
  int rc = 0;
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) rc = errno;
  // iconv may also report characters it replaced rather than failing; none are wanted.
  if (rc == 0 && iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) rc = errno;
  iconv_close(cd);
  *failedAt = static_cast<size_t>(src - in.data());
  out->assign(buf.data(), static_cast<size_t>(dst - buf.data()));
  std::fill(buf.begin(), buf.end(), 0);
  return rc;
}

}  // namespace

bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string* out, std::string* why) {
  std::string bytes;
  size_t at = 0;
  bool unknown = false;
  Convert("UTF-8", IconvName(codePage).c_str(), std::string(), &bytes, &at, &unknown);
  if (unknown) {
    *why = "code page " + std::to_string(codePage) + " is not known to this system's iconv";
    return false;
  }
  if (Convert("UTF-8", "UTF-32LE", utf8, &bytes, &at, &unknown) != 0) {
    *why = "the text is not valid UTF-8";
    return false;
  }
  std::fill(bytes.begin(), bytes.end(), 0);
  // One character at a time: each must read back as itself. Some of iconv's mappings do not
  // (code page 932 takes U+00A5, the yen sign, to 0x5C, the backslash); Windows' conversion
  // without best fit refuses those characters, and so does this one.
  out->clear();
  size_t len = 0;
  for (at = 0; at < utf8.size(); at += len) {
    unsigned cp = 0;
    len = CharLength(utf8, at, &cp);
    std::string one = utf8.substr(at, len), mapped, back;
    size_t ignored = 0;
    bool ok =
        WindowsMapping(codePage, cp, &mapped) ||
        (Convert("UTF-8", IconvName(codePage).c_str(), one, &mapped, &ignored, &unknown) == 0 &&
         Convert(IconvName(codePage).c_str(), "UTF-8", mapped, &back, &ignored, &unknown) == 0 &&
         back == one);
    out->append(mapped);
    for (std::string* t : {&one, &mapped, &back}) std::fill(t->begin(), t->end(), 0);
    if (!ok) {
      std::fill(out->begin(), out->end(), 0);
      out->clear();
      *why =
          "the character " + CharAt(utf8, at) + " is not in code page " + std::to_string(codePage);
      return false;
    }
  }
  return true;
}

bool CodePageToUtf8(const std::string& bytes, int codePage, std::string* out, std::string* why) {
  size_t at = 0;
  bool unknown = false;
  int rc = Convert(IconvName(codePage).c_str(), "UTF-8", bytes, out, &at, &unknown);
  if (rc == 0) return true;
  *why = unknown ? "code page " + std::to_string(codePage) + " is not known to this system's iconv"
                 : "the bytes are not text in code page " + std::to_string(codePage);
  return false;
}

#endif
