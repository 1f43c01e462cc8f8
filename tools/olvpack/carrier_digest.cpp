#include "tools/olvpack/carrier_digest.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "package/package_format.h"
#include "tools/toolport/tool_io.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

// A byte range [begin, end) of the file that the Authenticode digest leaves out.
struct Range {
  uint64_t begin, end;
};

// The ranges a PE image's Authenticode digest leaves out, from its headers (first bytes of
// the file, fileSize in all), in file order; false when the bytes are no PE image.
bool AuthenticodeGaps(const std::vector<unsigned char>& head, uint64_t fileSize,
                      std::vector<Range>* gaps) {
  auto le16 = [&](size_t at) { return head[at] | head[at + 1] << 8; };
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
  uint64_t pe = LoadLe32(&head[0x3c]);
  if (pe + 24 + 2 > head.size() || memcmp(&head[pe], "PE\0\0", 4) != 0) return false;
  uint64_t opt = pe + 24;
  unsigned magic = le16(opt);
  uint64_t count = opt + (magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0);
  if (count == opt || count + 4 + 5 * 8 > head.size() || LoadLe32(&head[count]) <= 4) return false;
  uint64_t certEntry = count + 4 + 4 * 8;
  uint64_t table = LoadLe32(&head[certEntry]), size = LoadLe32(&head[certEntry + 4]);
  gaps->push_back({opt + 64, opt + 68});  // the checksum
  gaps->push_back({certEntry, certEntry + 8});
  if (size != 0 && table >= certEntry + 8 && table + size == fileSize)
    gaps->push_back({table, fileSize});
  return true;
}

}  // namespace

CarrierDigests DigestCarrier(const std::string& path) {
  CarrierDigests d;
  std::unique_ptr<FILE, FileCloser> f(OpenFile(path, "rb"));
  if (!f) return d;
  // The headers first (at most 4 KiB is read for them), then the whole file in one pass.
  std::vector<unsigned char> head(4096);
  head.resize(fread(head.data(), 1, head.size(), f.get()));
  uint64_t fileSize = 0;
  {
    std::vector<unsigned char> buf(1 << 16);
    if (!SeekTo(f.get(), 0)) return d;
    Sha256 whole;
    Sha256Init(&whole);
    Sha256 image;
    Sha256Init(&image);
    std::vector<Range> gaps;
    // The file's size is needed for the gaps: measure it first.
    while (size_t n = fread(buf.data(), 1, buf.size(), f.get())) fileSize += n;
    if (ferror(f.get()) || !SeekTo(f.get(), 0)) return d;
    d.isPe = AuthenticodeGaps(head, fileSize, &gaps);
    uint64_t pos = 0;
    while (size_t n = fread(buf.data(), 1, buf.size(), f.get())) {
      Sha256Update(&whole, buf.data(), n);
      // The parts of [pos, pos + n) outside every gap.
      uint64_t at = pos, end = pos + n;
      for (const Range& g : gaps) {
        if (g.end <= at || g.begin >= end) continue;
        if (g.begin > at) Sha256Update(&image, buf.data() + (at - pos), g.begin - at);
        at = std::max(at, g.end);
      }
      if (at < end) Sha256Update(&image, buf.data() + (at - pos), end - at);
      pos = end;
    }
    if (ferror(f.get())) return d;
    uint64_t hashedEnd = gaps.size() == 3 ? gaps[2].begin : fileSize;
    static const unsigned char kZeros[8] = {0};
    if (hashedEnd % 8 != 0) Sha256Update(&image, kZeros, 8 - hashedEnd % 8);
    Sha256Final(&whole, d.file);
    Sha256Final(&image, d.authenticode);
  }
  d.ok = true;
  return d;
}
