// Read-only, typed access to the children of one element of a TinyXML document.
#pragma once
#include <stdint.h>

#include "tinyxml.h"
#include "util/text_buf.h"

class CBasedTXmlParser {
 public:
  CBasedTXmlParser();
  virtual ~CBasedTXmlParser();
  CBasedTXmlParser(const CBasedTXmlParser&) = delete;
  CBasedTXmlParser& operator=(const CBasedTXmlParser&) = delete;

  // Prepares a fresh document; nothing in this class.
  virtual void InitDocument();
  // Calls InitDocument. Always true.
  bool NewDocument();

  // The getters read the first child element called name of the current element; its
  // value is its first child when that is text (entities resolved, white space condensed).
  // A missing element, current element or name, or a first child that is not text, gives
  // 0 or an empty text. out is set before anything is looked at.

  // The raw UTF-8 value, cut to its first max bytes when max is not 0 (the cut may split a
  // character).
  void GetNV1(const char* name, TextBuf& out, uint16_t max);
  // Decimal values as strtol (GetInt) and strtoul (GetUInt, GetShort) read them with a
  // 32-bit long: leading white space, an optional sign, digits up to the first other
  // character; out of range saturates. GetShort keeps the low 16 bits.
  void GetInt(const char* name, int32_t& out);
  void GetUInt(const char* name, uint32_t& out);
  void GetShort(const char* name, uint16_t& out);
  // The value cut as by GetNV1, then converted to the narrow text of the program
  // (ansi_text.h).
  void GetString(const char* name, TextBuf& out, uint16_t max);

 protected:
  TiXmlDocument doc_;
  // Element of doc_ that the getters read; not owned; cleared whenever doc_ is cleared.
  TiXmlElement* current_;
};

// The conversions behind GetInt and GetUInt, on a NUL-terminated text.
int32_t DecimalToInt32(const char* text);
uint32_t DecimalToUInt32(const char* text);
