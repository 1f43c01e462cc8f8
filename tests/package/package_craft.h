// Crafts package bytes for tests, including broken ones. No operating system needed.
#pragma once
#include <stdint.h>

#include <string>

#include "package/mix.h"
#include "package/package_format.h"

inline std::string Mixed(std::string s) {
  MixBuffer(&s[0], static_cast<uint32_t>(s.size()));
  return s;
}

inline std::string Le32(uint32_t v) {
  unsigned char b[4];
  StoreLe32(b, v);
  return std::string(reinterpret_cast<char*>(b), 4);
}

inline std::string Marker() { return Mixed(std::string(kPackageMarker, kPackageMarkerLen)); }

// An entry whose header may lie: nameLen and dataLen are written as given, then the name
// and data bytes (mixed) as given.
inline std::string RawEntry(uint32_t nameLen, uint32_t dataLen, const std::string& name,
                            const std::string& data) {
  return Le32(nameLen) + Le32(dataLen) + Mixed(name) + Mixed(data);
}

inline std::string Entry(const std::string& name, const std::string& data) {
  return RawEntry(static_cast<uint32_t>(name.size()), static_cast<uint32_t>(data.size()), name,
                  data);
}

inline std::string EndEntry() { return Entry(kPackageEndName, ""); }

// Deterministic content of n bytes that covers every byte value.
inline std::string Pattern(size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

// len bytes that start like a PE image whose header names a certificate table of tableLen
// bytes at file offset tableAt (PE32, or PE32+ with plus); the rest is 'S'.
inline std::string PeStub(size_t len, uint32_t tableAt, uint32_t tableLen, bool plus = false) {
  std::string b(len, 'S');
  auto put = [&](size_t at, const std::string& bytes) { b.replace(at, bytes.size(), bytes); };
  put(0, "MZ");
  put(0x3c, Le32(0x40));
  put(0x40, std::string("PE\0\0", 4));
  const size_t opt = 0x58, count = opt + (plus ? 108 : 92);
  put(opt, plus ? std::string("\x0b\x02", 2) : std::string("\x0b\x01", 2));
  put(count, Le32(16));
  put(count + 4 + 4 * 8, Le32(tableAt) + Le32(tableLen));
  return b;
}
