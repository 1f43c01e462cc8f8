#include "code_page.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

namespace {

std::string IconvName(int codePage) { return "CP" + std::to_string(codePage); }

// The code point and the character of the UTF-8 sequence at byte at, for messages.
std::string CharAt(const std::string& s, size_t at) {
  unsigned char c = static_cast<unsigned char>(s[at]);
  size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  if (at + len > s.size()) len = s.size() - at;
  unsigned cp = len == 1 ? c : c & (0x3F >> (len - 1));
  for (size_t i = 1; i < len; ++i) cp = cp << 6 | (static_cast<unsigned char>(s[at + i]) & 0x3F);
  char u[16];
  snprintf(u, sizeof u, "U+%04X", cp);
  return std::string(u) + " (" + s.substr(at, len) + ")";
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

bool IsPlainAscii(const std::string& bytes) {
  for (unsigned char c : bytes)
    if (c >= 0x80) return false;
  return true;
}

bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string* out, std::string* why) {
  size_t at = 0;
  bool unknown = false;
  int rc = Convert("UTF-8", IconvName(codePage).c_str(), utf8, out, &at, &unknown);
  if (rc == 0) return true;
  if (unknown) {
    *why = "code page " + std::to_string(codePage) + " is not known to this system's iconv";
    return false;
  }
  // Where the conversion stopped: a character the code page lacks, or no UTF-8 at all.
  std::string ignored;
  size_t badAt = 0;
  bool valid = at < utf8.size() &&
               Convert("UTF-8", "UTF-32LE", utf8.substr(at), &ignored, &badAt, &unknown) == 0;
  std::fill(ignored.begin(), ignored.end(), 0);
  if (rc == EILSEQ && valid)
    *why = "the character " + CharAt(utf8, at) + " is not in code page " + std::to_string(codePage);
  else
    *why = "the text is not valid UTF-8";
  return false;
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
