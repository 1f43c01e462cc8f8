#include "xml/xml_parser.h"

#include <string.h>

#include "xml/ansi_text.h"

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Beyond this the magnitude only matters as "too large".
const uint64_t kMagnitudeCap = 0x1FFFFFFFFull;

// Sign and magnitude of the leading decimal number of text; false when it has no digits.
bool ScanDecimal(const char* text, bool* negative, uint64_t* magnitude) {
  const char* p = text;
  while (IsCSpace(*p)) ++p;
  *negative = false;
  if (*p == '+' || *p == '-') *negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  uint64_t m = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    m = m * 10 + static_cast<unsigned>(*p - '0');
    if (m > kMagnitudeCap) m = kMagnitudeCap;
  }
  *magnitude = m;
  return true;
}

}  // namespace

int32_t DecimalToInt32(const char* text) {
  bool negative;
  uint64_t m;
  if (!ScanDecimal(text, &negative, &m)) return 0;
  if (negative) return m >= 0x80000000ull ? INT32_MIN : -static_cast<int32_t>(m);
  return m > 0x7FFFFFFFull ? INT32_MAX : static_cast<int32_t>(m);
}

uint32_t DecimalToUInt32(const char* text) {
  bool negative;
  uint64_t m;
  if (!ScanDecimal(text, &negative, &m)) return 0;
  if (m > 0xFFFFFFFFull) return UINT32_MAX;
  uint32_t v = static_cast<uint32_t>(m);
  return negative ? 0u - v : v;
}

CBasedTXmlParser::CBasedTXmlParser() : current_(nullptr) {}

CBasedTXmlParser::~CBasedTXmlParser() {}

void CBasedTXmlParser::InitDocument() {}

bool CBasedTXmlParser::NewDocument() {
  InitDocument();
  return true;
}

void CBasedTXmlParser::GetNV1(const char* name, TextBuf& out, uint16_t max) {
  out.Clear();
  if (current_ == nullptr || name == nullptr) return;
  const TiXmlElement* field = current_->FirstChildElement(name);
  if (field == nullptr) return;
  const TiXmlNode* first = field->FirstChild();
  if (first == nullptr || first->ToText() == nullptr) return;
  const char* value = first->Value();
  size_t n = strlen(value);
  if (max != 0 && n > max) n = max;
  out.Append(value, n);
}

void CBasedTXmlParser::GetInt(const char* name, int32_t& out) {
  out = 0;
  TextBuf text;
  GetNV1(name, text, 0);
  if (text.Length() != 0) out = DecimalToInt32(text.CStr());
}

void CBasedTXmlParser::GetUInt(const char* name, uint32_t& out) {
  out = 0;
  TextBuf text;
  GetNV1(name, text, 0);
  if (text.Length() != 0) out = DecimalToUInt32(text.CStr());
}

void CBasedTXmlParser::GetShort(const char* name, uint16_t& out) {
  out = 0;
  TextBuf text;
  GetNV1(name, text, 0);
  if (text.Length() != 0) out = static_cast<uint16_t>(DecimalToUInt32(text.CStr()));
}

void CBasedTXmlParser::GetString(const char* name, TextBuf& out, uint16_t max) {
  TextBuf text;
  GetNV1(name, text, max);
  out.Clear();
  if (text.Length() != 0) Utf8ToAnsi(text.CStr(), text.Length(), out);
}
