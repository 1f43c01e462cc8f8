#include "tools/olvpack/version_stamp.h"

#include <string.h>

#include <memory>

#include "package/package_format.h"
#include "tools/toolport/tool_io.h"

namespace {

uint32_t Le16(const std::vector<unsigned char>& b, uint64_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8;
}
uint32_t Le32(const std::vector<unsigned char>& b, uint64_t at) { return LoadLe32(&b[at]); }

const uint32_t kFixedSignature = 0xfeef04bd;
const uint32_t kFixedLen = 52;

// One node of the version record: wLength, wValueLength, wType, a UTF-16 key, zeros to a
// 4-byte boundary, the value, the children (each at a 4-byte boundary).
struct Node {
  std::string key;  // ASCII keys only; other characters become '?'
  uint64_t end = 0, valueAt = 0, childrenAt = 0;
  uint32_t valueLen = 0, type = 0;
};

uint64_t Align4(uint64_t at, uint64_t base) { return at + ((4 - (at - base) % 4) % 4); }

// The node at `at` (inside [base, limit)); false when it does not fit.
bool ReadNode(const std::vector<unsigned char>& b, uint64_t base, uint64_t at, uint64_t limit,
              Node* n) {
  if (at + 6 > limit) return false;
  uint32_t len = Le16(b, at);
  if (len < 6 || at + len > limit) return false;
  n->end = at + len;
  n->valueLen = Le16(b, at + 2);
  n->type = Le16(b, at + 4);
  n->key.clear();
  uint64_t k = at + 6;
  for (;; k += 2) {
    if (k + 2 > n->end) return false;
    uint32_t c = Le16(b, k);
    if (c == 0) break;
    n->key += c < 0x80 ? static_cast<char>(c) : '?';
  }
  n->valueAt = Align4(k + 2, base);
  uint64_t valueBytes = n->type == 1 ? 2ull * n->valueLen : n->valueLen;
  if (n->valueAt + valueBytes > n->end) return false;
  n->childrenAt = Align4(n->valueAt + valueBytes, base);
  return true;
}

}  // namespace

bool ParseVersion(const std::string& text, Version* out) {
  Version v;
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    size_t digits = 0;
    uint32_t n = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
      n = n * 10 + static_cast<uint32_t>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || n > 65535) return false;
    v.part[i] = static_cast<uint16_t>(n);
    if (i < 3) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
  }
  if (at != text.size()) return false;
  *out = v;
  return true;
}

std::string VersionText(const Version& v) {
  return std::to_string(v.part[0]) + "." + std::to_string(v.part[1]) + "." +
         std::to_string(v.part[2]) + "." + std::to_string(v.part[3]);
}

VersionRecord FindVersionRecord(const std::vector<unsigned char>& b) {
  VersionRecord r;
  auto fits = [&](uint64_t at, uint64_t n) { return at <= b.size() && n <= b.size() - at; };
  if (!fits(0, 0x40) || b[0] != 'M' || b[1] != 'Z') return r;
  const uint64_t pe = Le32(b, 0x3c);
  if (!fits(pe, 24) || memcmp(&b[pe], "PE\0\0", 4) != 0) return r;
  const uint32_t sections = Le16(b, pe + 6), optSize = Le16(b, pe + 20);
  const uint64_t opt = pe + 24;
  if (!fits(opt, 2)) return r;
  const uint32_t magic = Le16(b, opt);
  const uint64_t dirs = opt + (magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0);
  if (dirs == opt || !fits(dirs, 3 * 8) || Le32(b, dirs - 4) <= 2) return r;
  const uint32_t rsrcRva = Le32(b, dirs + 2 * 8);
  // The file offset of an RVA, from the section that holds it.
  auto fileAt = [&](uint64_t rva, uint64_t* out) {
    for (uint32_t i = 0; i < sections && i < 96; ++i) {
      uint64_t h = opt + optSize + 40ull * i;
      if (!fits(h, 40)) return false;
      uint64_t va = Le32(b, h + 12), raw = Le32(b, h + 16), ptr = Le32(b, h + 20);
      if (rva >= va && rva < va + raw) {
        *out = ptr + (rva - va);
        return true;
      }
    }
    return false;
  };
  uint64_t root = 0;
  if (rsrcRva == 0 || !fileAt(rsrcRva, &root)) return r;
  // Three levels of resource directories: type 16 (RT_VERSION), its first name, its first
  // language; then the data entry.
  uint64_t dir = root;
  for (int level = 0; level < 3; ++level) {
    if (!fits(dir, 16)) return r;
    uint32_t count = Le16(b, dir + 12) + Le16(b, dir + 14);
    uint64_t next = 0;
    bool got = false;
    for (uint32_t i = 0; i < count && !got; ++i) {
      uint64_t e = dir + 16 + 8ull * i;
      if (!fits(e, 8)) return r;
      uint32_t name = Le32(b, e), to = Le32(b, e + 4);
      if (level == 0 && name != 16) continue;
      got = true;
      next = root + (to & 0x7fffffff);
      if (((to & 0x80000000) != 0) != (level < 2)) return r;
    }
    if (!got) return r;
    dir = next;
  }
  if (!fits(dir, 16)) return r;
  uint64_t at = 0;
  const uint64_t size = Le32(b, dir + 4);
  if (!fileAt(Le32(b, dir), &at) || !fits(at, size)) return r;
  const uint64_t end = at + size;
  Node top;
  if (!ReadNode(b, at, at, end, &top) || top.key != "VS_VERSION_INFO" ||
      top.valueLen != kFixedLen || Le32(b, top.valueAt) != kFixedSignature)
    return r;
  r.found = true;
  r.resourceAt = at;
  r.resourceSize = size;
  r.fixedAt = top.valueAt;
  auto version = [&](uint64_t ms) {
    Version v;
    uint32_t hi = Le32(b, ms), lo = Le32(b, ms + 4);
    v.part[0] = static_cast<uint16_t>(hi >> 16);
    v.part[1] = static_cast<uint16_t>(hi);
    v.part[2] = static_cast<uint16_t>(lo >> 16);
    v.part[3] = static_cast<uint16_t>(lo);
    return v;
  };
  r.fileVersion = version(r.fixedAt + 8);
  r.productVersion = version(r.fixedAt + 16);
  // StringFileInfo, its string tables, their strings.
  for (uint64_t c = top.childrenAt; c < top.end;) {
    Node info;
    if (!ReadNode(b, at, c, top.end, &info)) break;
    if (info.key == "StringFileInfo") {
      for (uint64_t t = info.childrenAt; t < info.end;) {
        Node table;
        if (!ReadNode(b, at, t, info.end, &table)) break;
        for (uint64_t s = table.childrenAt; s < table.end;) {
          Node str;
          if (!ReadNode(b, at, s, table.end, &str)) break;
          if (str.type == 1 && (str.key == "FileVersion" || str.key == "ProductVersion"))
            r.strings.emplace_back(str.valueAt, str.valueLen);
          s = Align4(str.end, at);
        }
        t = Align4(table.end, at);
      }
    }
    c = Align4(info.end, at);
  }
  return r;
}

VersionRecord ReadVersionRecord(const std::string& path, uint64_t limit) {
  struct Closer {
    void operator()(FILE* f) const { fclose(f); }
  };
  std::unique_ptr<FILE, Closer> f(OpenFile(path, "rb"));
  if (!f) return VersionRecord();
  std::vector<unsigned char> b(static_cast<size_t>(limit));
  b.resize(fread(b.data(), 1, b.size(), f.get()));
  return FindVersionRecord(b);
}

std::vector<std::pair<uint64_t, std::vector<unsigned char>>> VersionStamp(
    const VersionRecord& record, const Version& v, std::string* why) {
  std::vector<std::pair<uint64_t, std::vector<unsigned char>>> out;
  if (!record.found) {
    *why = "the stub has no version record";
    return out;
  }
  if (record.strings.empty()) {
    *why = "the stub's version record has no FileVersion or ProductVersion string";
    return out;
  }
  const std::string text = VersionText(v);
  for (const auto& [at, room] : record.strings) {
    if (room < text.size() + 1) {
      *why = "the stub's version strings have room for " + std::to_string(room ? room - 1 : 0) +
             " characters, not " + std::to_string(text.size()) +
             " (build it from a Setup.exe that reserves room for 65535.65535.65535.65535)";
      return out;
    }
  }
  std::vector<unsigned char> fixed(16);
  uint32_t ms = static_cast<uint32_t>(v.part[0]) << 16 | v.part[1];
  uint32_t ls = static_cast<uint32_t>(v.part[2]) << 16 | v.part[3];
  StoreLe32(&fixed[0], ms);
  StoreLe32(&fixed[4], ls);
  StoreLe32(&fixed[8], ms);
  StoreLe32(&fixed[12], ls);
  out.emplace_back(record.fixedAt + 8, fixed);
  for (const auto& [at, room] : record.strings) {
    std::vector<unsigned char> s(2ull * room, 0);
    for (size_t i = 0; i < text.size(); ++i) s[2 * i] = static_cast<unsigned char>(text[i]);
    out.emplace_back(at, s);
  }
  return out;
}
