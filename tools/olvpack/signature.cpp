#include "tools/olvpack/signature.h"

#include <string.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "package/package_format.h"
#include "tools/toolport/tool_io.h"

namespace {

// One DER element: its tag, its contents, and the whole encoding.
struct Der {
  const unsigned char* p = nullptr;
  size_t n = 0;
};

// Takes the next element off in. Definite lengths only (Authenticode signatures are DER).
bool Next(Der* in, unsigned* tag, Der* content, Der* whole = nullptr) {
  if (in->n < 2) return false;
  const unsigned char* start = in->p;
  size_t at = 2, len = in->p[1];
  if (len & 0x80) {
    size_t bytes = len & 0x7f;
    if (bytes == 0 || bytes > 4 || in->n < 2 + bytes) return false;
    len = 0;
    for (size_t i = 0; i < bytes; ++i) len = len << 8 | in->p[2 + i];
    at += bytes;
  }
  if (len > in->n - at) return false;
  *tag = in->p[0];
  content->p = in->p + at;
  content->n = len;
  in->p += at + len;
  in->n -= at + len;
  if (whole) {
    whole->p = start;
    whole->n = at + len;
  }
  return true;
}

// Takes the next element, which must have tag want.
bool Take(Der* in, unsigned want, Der* content, Der* whole = nullptr) {
  unsigned tag = 0;
  return Next(in, &tag, content, whole) && tag == want;
}

bool Is(const Der& d, const unsigned char* bytes, size_t n) {
  return d.n == n && memcmp(d.p, bytes, n) == 0;
}
bool Same(const Der& a, const Der& b) { return a.n == b.n && memcmp(a.p, b.p, a.n) == 0; }

const unsigned char kOidSignedData[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x02};
const unsigned char kOidSpcIndirectData[] = {0x2b, 0x06, 0x01, 0x04, 0x01,
                                             0x82, 0x37, 0x02, 0x01, 0x04};
const unsigned char kOidSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const unsigned char kOidCounterSignature[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x06};
const unsigned char kOidRfc3161TimeStamp[] = {0x2b, 0x06, 0x01, 0x04, 0x01,
                                              0x82, 0x37, 0x03, 0x03, 0x01};

std::string DottedOid(const Der& oid) {
  std::string s;
  uint64_t v = 0;
  for (size_t i = 0; i < oid.n; ++i) {
    v = v << 7 | (oid.p[i] & 0x7f);
    if (oid.p[i] & 0x80) continue;
    if (s.empty()) {
      uint64_t first = v < 80 ? v / 40 : 2;
      s = std::to_string(first) + "." + std::to_string(v - first * 40);
    } else {
      s += "." + std::to_string(v);
    }
    v = 0;
  }
  return s;
}

// "CN=..., O=..." of a Name; characters outside printable ASCII become '?', so that the
// subject stays one line of plain text whatever the certificate holds.
std::string NameText(Der name) {
  static const struct {
    unsigned char last;
    const char* key;
  } kShort[] = {{3, "CN"}, {6, "C"}, {7, "L"}, {8, "ST"}, {10, "O"}, {11, "OU"}};
  std::string out;
  Der rdn;
  while (name.n > 0 && Take(&name, 0x31, &rdn)) {
    Der atv;
    while (rdn.n > 0 && Take(&rdn, 0x30, &atv)) {
      Der oid, value;
      unsigned tag = 0;
      if (!Take(&atv, 0x06, &oid) || !Next(&atv, &tag, &value)) return out;
      std::string key = DottedOid(oid);
      if (oid.n == 3 && oid.p[0] == 0x55 && oid.p[1] == 0x04) {
        for (const auto& k : kShort)
          if (oid.p[2] == k.last) key = k.key;
      }
      std::string text;
      size_t step = tag == 0x1e ? 2 : 1;  // BMPString: UTF-16 big-endian
      for (size_t i = step - 1; i < value.n; i += step) {
        unsigned char c = value.p[i];
        bool wide = step == 2 && value.p[i - 1] != 0;
        text += (!wide && c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
      }
      if (!out.empty()) out += ", ";
      out += key + "=" + text;
    }
  }
  return out;
}

SignatureInfo Unreadable(const std::string& why) {
  SignatureInfo s;
  s.present = true;
  s.problem = why;
  return s;
}

}  // namespace

SignatureInfo ParseSignature(const unsigned char* table, size_t size) {
  // WIN_CERTIFICATE: length, revision 2.0, type PKCS#7 signed data.
  if (size < 8) return Unreadable("the certificate table is shorter than its header");
  size_t len = LoadLe32(table);
  if (len < 8 || len > size || (table[4] | table[5] << 8) != 0x0200 ||
      (table[6] | table[7] << 8) != 0x0002)
    return Unreadable("the certificate table's header is not an Authenticode signature's");
  Der in{table + 8, len - 8}, content_info, oid, explicit0, signed_data, ignored;
  if (!Take(&in, 0x30, &content_info) || !Take(&content_info, 0x06, &oid) ||
      !Is(oid, kOidSignedData, sizeof kOidSignedData) || !Take(&content_info, 0xa0, &explicit0) ||
      !Take(&explicit0, 0x30, &signed_data))
    return Unreadable("the certificate table holds no PKCS#7 signed data");
  Der encap, indirect0, indirect, digest_info, alg, alg_oid, digest;
  if (!Take(&signed_data, 0x02, &ignored) || !Take(&signed_data, 0x31, &ignored) ||
      !Take(&signed_data, 0x30, &encap) || !Take(&encap, 0x06, &oid) ||
      !Is(oid, kOidSpcIndirectData, sizeof kOidSpcIndirectData) ||
      !Take(&encap, 0xa0, &indirect0) || !Take(&indirect0, 0x30, &indirect) ||
      !Take(&indirect, 0x30, &ignored) || !Take(&indirect, 0x30, &digest_info) ||
      !Take(&digest_info, 0x30, &alg) || !Take(&alg, 0x06, &alg_oid) ||
      !Take(&digest_info, 0x04, &digest))
    return Unreadable("the signature holds no Authenticode digest");
  SignatureInfo s;
  s.present = true;
  s.readable = true;
  s.sha256 = Is(alg_oid, kOidSha256, sizeof kOidSha256) && digest.n == kSha256Len;
  if (s.sha256) memcpy(s.digest, digest.p, kSha256Len);

  // Certificates [0], CRLs [1], then the signer infos.
  Der certs{}, signers;
  unsigned tag = 0;
  Der item;
  bool haveSigners = false;
  while (signed_data.n > 0 && Next(&signed_data, &tag, &item)) {
    if (tag == 0xa0) certs = item;
    if (tag == 0x31) {
      signers = item;
      haveSigners = true;
      break;
    }
  }
  Der signer, sid, issuer, issuer_whole, serial;
  if (!haveSigners || !Take(&signers, 0x30, &signer) || !Take(&signer, 0x02, &ignored) ||
      !Take(&signer, 0x30, &sid))
    return s;
  bool bySerial = Take(&sid, 0x30, &issuer, &issuer_whole) && Take(&sid, 0x02, &serial);
  // The rest of the signer info: the digest algorithm, signed attributes [0], the signature
  // algorithm and value, unsigned attributes [1] (where time stamps are attached).
  while (signer.n > 0 && Next(&signer, &tag, &item)) {
    if (tag != 0xa1) continue;
    Der attr;
    while (item.n > 0 && Take(&item, 0x30, &attr)) {
      Der attr_oid;
      if (Take(&attr, 0x06, &attr_oid) &&
          (Is(attr_oid, kOidCounterSignature, sizeof kOidCounterSignature) ||
           Is(attr_oid, kOidRfc3161TimeStamp, sizeof kOidRfc3161TimeStamp)))
        s.timeStamped = true;
    }
  }
  Der cert;
  while (bySerial && certs.n > 0 && Take(&certs, 0x30, &cert)) {
    Der tbs, version, c_serial, c_issuer, c_issuer_whole, c_subject;
    if (!Take(&cert, 0x30, &tbs)) continue;
    Der peek = tbs;
    if (Next(&peek, &tag, &version) && tag == 0xa0) tbs = peek;
    if (Take(&tbs, 0x02, &c_serial) && Take(&tbs, 0x30, &ignored) &&
        Take(&tbs, 0x30, &c_issuer, &c_issuer_whole) && Take(&tbs, 0x30, &ignored) &&
        Take(&tbs, 0x30, &c_subject) && Same(c_serial, serial) &&
        Same(c_issuer_whole, issuer_whole)) {
      s.subject = NameText(c_subject);
      break;
    }
  }
  return s;
}

SignatureInfo ReadSignature(const std::string& path) {
  SignatureInfo none;
  struct Closer {
    void operator()(FILE* f) const { fclose(f); }
  };
  std::unique_ptr<FILE, Closer> f(OpenFile(path, "rb"));
  if (!f) return none;
  auto at = [&](uint64_t pos, void* buf, size_t n) {
    return SeekTo(f.get(), pos) && fread(buf, 1, n, f.get()) == n;
  };
  unsigned char b[8];
  if (!at(0, b, 2) || b[0] != 'M' || b[1] != 'Z' || !at(0x3c, b, 4)) return none;
  uint64_t pe = LoadLe32(b);
  if (!at(pe, b, 4) || memcmp(b, "PE\0\0", 4) != 0) return none;
  uint64_t opt = pe + 24;
  if (!at(opt, b, 2)) return none;
  unsigned magic = b[0] | b[1] << 8;
  uint64_t count = opt + (magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0);
  if (count == opt || !at(count, b, 4) || LoadLe32(b) <= 4) return none;
  if (!at(count + 4 + 4 * 8, b, 8)) return none;  // directory 4: the certificate table
  uint64_t table = LoadLe32(b), size = LoadLe32(b + 4);
  if (table == 0 && size == 0) return none;
  std::error_code ec;
  uint64_t fileSize = std::filesystem::file_size(PathOf(path), ec);
  if (ec || table + size > fileSize || size > (64u << 20))
    return Unreadable("the certificate table lies outside the file");
  std::vector<unsigned char> bytes(static_cast<size_t>(size));
  if (!at(table, bytes.data(), bytes.size()))
    return Unreadable("the certificate table cannot be read");
  return ParseSignature(bytes.data(), bytes.size());
}
