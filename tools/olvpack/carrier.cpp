#include "tools/olvpack/carrier.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <errno.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "package/cert_table.h"
#include "package/digest_slot.h"
#include "package/entry_name.h"
#include "package/package_format.h"
#include "package/package_walk.h"
#include "package/package_writer.h"
#include "tools/toolport/tool_io.h"

namespace fs = std::filesystem;

namespace {

const char kWorkFolder[] = "C:\\tmp\\OlvanSetup0";
const uint64_t k4GiB = 0x100000000ull;

class FileSink : public PackageSink {
 public:
  explicit FileSink(FILE* f) : f_(f) {}
  bool Put(const void* data, uint32_t count) override {
    return count == 0 || fwrite(data, 1, count, f_) == count;
  }

 private:
  FILE* f_;
};

// Feeds what it passes on to a digest.
class DigestSink : public PackageSink {
 public:
  DigestSink(PackageSink& out, Sha256* digest) : out_(out), digest_(digest) {}
  bool Put(const void* data, uint32_t count) override {
    Sha256Update(digest_, data, count);
    return out_.Put(data, count);
  }

 private:
  PackageSink& out_;
  Sha256* digest_;
};

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool CopyStream(FILE* in, PackageSink& sink, uint64_t size, bool mix) {
  std::vector<unsigned char> buf(1 << 16);
  while (size > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(size, buf.size()));
    if (fread(buf.data(), 1, n, in) != n) return false;
    bool ok = mix ? WritePackageContent(sink, buf.data(), static_cast<uint32_t>(n))
                  : sink.Put(buf.data(), static_cast<uint32_t>(n));
    if (!ok) return false;
    size -= n;
  }
  return true;
}

BuildResult Fail(BuildFailure failure, const std::string& message) {
  BuildResult r;
  r.failure = failure;
  r.message = message;
  return r;
}
// The payload or the stub cannot be used as it is.
BuildResult FailInput(const std::string& message) { return Fail(BuildFailure::kInput, message); }
// A file could not be read or written.
BuildResult FailFile(const std::string& message) { return Fail(BuildFailure::kFile, message); }

}  // namespace

BuildResult ScanPayload(const std::string& payloadDir) {
  std::error_code ec;
  if (!fs::is_directory(PathOf(payloadDir), ec))
    return FailInput("payload folder not found: " + payloadDir);
  BuildResult r;
  for (fs::directory_iterator it(PathOf(payloadDir), ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& e = *it;
    std::string name = Utf8Of(e.path().filename());
    if (e.is_directory(ec))
      return FailInput("payload holds a folder, which the package format cannot carry: " + name +
                       " (pack it into a .7z archive instead)");
    if (!e.is_regular_file(ec)) return FailInput("payload entry is not a regular file: " + name);
    if (name.size() > kPackageMaxNameLen)
      return FailInput("file name longer than 64 bytes: " + name);
    for (unsigned char c : name) {
      if (c >= 0x80)
        return FailInput(
            "file name is not plain ASCII (Setup.exe reads names in the system's "
            "ANSI code page): " +
            name);
    }
    if (!IsSafeEntryName(name.data(), static_cast<uint32_t>(name.size())))
      return FailInput(
          "file name that Setup.exe refuses (reserved device name, forbidden "
          "character, or trailing dot or blank): " +
          name);
    if (name == kPackageEndName)
      return FailInput(std::string("file name reserved for the end entry: ") + name);
    uint64_t size = e.file_size(ec);
    if (ec) return FailFile("cannot read the size of " + name + ": " + ec.message());
    if (size >= k4GiB) return FailInput("file of 4 GiB or more: " + name);
    r.entries.push_back({name, size});
  }
  if (ec) return FailFile("cannot list the payload folder: " + ec.message());
  std::sort(r.entries.begin(), r.entries.end(),
            [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  for (size_t i = 1; i < r.entries.size(); ++i) {
    if (strcasecmp(r.entries[i - 1].name.c_str(), r.entries[i].name.c_str()) == 0)
      return FailInput("two files whose names differ only in case (one file on Windows): " +
                       r.entries[i - 1].name + ", " + r.entries[i].name);
  }
  r.ok = true;
  return r;
}

PayloadCheck CheckPayloadContents(const std::vector<PackEntry>& entries) {
  auto has = [&](const char* name) {
    for (const PackEntry& e : entries)
      if (strcasecmp(e.name.c_str(), name) == 0) return true;
    return false;
  };
  PayloadCheck c;
  if (!has("wexApxSvr.exe"))
    c.missing.push_back("wexApxSvr.exe, the agent (Setup.exe stops with error 355 without it)");
  if (!has("OlvanSetup.exe"))
    c.missing.push_back(
        "OlvanSetup.exe, the installer (Setup.exe stops with error 357 without it)");
  static const char* const kExtracted[] = {"Qt.7z", "tool.7z", "UrlCmdCustomCfg.7z"};
  std::string archives;
  for (const char* a : kExtracted)
    if (has(a)) archives += (archives.empty() ? "" : ", ") + std::string(a);
  if (!archives.empty() && !has("7za.exe"))
    c.missing.push_back("7za.exe, the 32-bit 7-Zip console that extracts " + archives +
                        " (without it they stay packed and the installer runs without them)");
  for (const PackEntry& e : entries) {
    const std::string& n = e.name;
    if (n.size() < 3 || strcasecmp(n.c_str() + n.size() - 3, ".7z") != 0) continue;
    bool extracted = false;
    for (const char* a : kExtracted) extracted = extracted || strcasecmp(n.c_str(), a) == 0;
    if (!extracted)
      c.warnings.push_back(n + " stays packed: Setup.exe extracts only Qt.7z, tool.7z and "
                               "UrlCmdCustomCfg.7z");
  }
  return c;
}

std::string StubKindProblem(const std::string& stubPath, uint32_t offset) {
  if (offset != kExeCarrierOffset && offset != kMsiCarrierOffset) return "";
  File f(OpenFile(stubPath, "rb"));
  if (!f) return "";
  unsigned char b[8] = {};
  size_t got = fread(b, 1, sizeof b, f.get());
  if (offset == kMsiCarrierOffset) {
    static const unsigned char kCompoundFile[8] = {0xd0, 0xcf, 0x11, 0xe0,
                                                   0xa1, 0xb1, 0x1a, 0xe1};
    if (got == 8 && memcmp(b, kCompoundFile, 8) == 0) return "";
    return "stub " + stubPath +
           " is not an MSI package (no compound-file signature): with --msi the stub is the "
           "client's MSI package, Setup.exe is built without --msi";
  }
  bool pe = got >= 2 && b[0] == 'M' && b[1] == 'Z';
  unsigned char h[4];
  pe = pe && SeekTo(f.get(), 0x3c) && fread(h, 1, 4, f.get()) == 4 &&
       SeekTo(f.get(), LoadLe32(h)) && fread(h, 1, 4, f.get()) == 4 &&
       memcmp(h, "PE\0\0", 4) == 0;
  if (pe) return "";
  return "stub " + stubPath +
         " is not a Windows program (PE image): the stub at offset 530000 is Setup.exe (an MSI "
         "package is built with --msi)";
}

BuildResult BuildCarrier(const std::string& stubPath, const std::string& payloadDir,
                         uint32_t offset, const std::string& outputPath,
                         const Version* version) {
  std::error_code ec;
  if (!fs::is_regular_file(PathOf(stubPath), ec)) return FailInput("stub not found: " + stubPath);
  uint64_t stubSize = fs::file_size(PathOf(stubPath), ec);
  if (ec) return FailFile("cannot read the size of the stub " + stubPath + ": " + ec.message());
  if (stubSize >= offset)
    return FailInput("stub " + stubPath + " is " + std::to_string(stubSize) +
                     " bytes and reaches the package offset " + std::to_string(offset) +
                     "; it must end before it");

  BuildResult r = ScanPayload(payloadDir);
  if (!r.ok) return r;
  uint64_t total = static_cast<uint64_t>(offset) + kPackageMarkerLen;
  for (const PackEntry& e : r.entries) total += kPackageEntryHeaderLen + e.name.size() + e.size;
  total += kPackageEntryHeaderLen + kPackageEndNameLen;
  if (total >= k4GiB)
    return FailInput("carrier would be " + std::to_string(total) +
                     " bytes; Setup.exe reads carriers below 4 GiB only");

  const DigestSlot slot = ReadDigestSlot(stubPath);
  std::vector<std::pair<uint64_t, std::vector<unsigned char>>> stamp;
  if (version) {
    // The checksum is set again only for a program with a slot; an MSI package has no
    // version record of this kind.
    if (offset != kExeCarrierOffset)
      return FailInput("--version stamps Setup.exe only (package at 530000), not an MSI package");
    if (!slot.found)
      return FailInput("--version needs a Setup.exe stub (one with a digest slot): " + stubPath +
                       " has none");
    std::string why;
    stamp = VersionStamp(ReadVersionRecord(stubPath, stubSize), *version, &why);
    if (stamp.empty()) return FailInput("cannot stamp the version into " + stubPath + ": " + why);
  }
  const fs::path folder = PathOf(outputPath).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec))
    return FailFile("output folder not found: " + Utf8Of(folder) + " (create it first)");
  std::string tmp = outputPath + ".part";
  // Read back as well: the PE checksum covers the whole carrier.
  File out(OpenFile(tmp, "w+b"));
  if (!out) return FailFile("cannot create " + tmp + ": " + strerror(errno));
  FileSink file(out.get());
  bool ok = true;
  {
    File stub(OpenFile(stubPath, "rb"));
    ok = stub && CopyStream(stub.get(), file, stubSize, false);
  }
  std::vector<unsigned char> zeros(static_cast<size_t>(offset - stubSize), 0);
  ok = ok && file.Put(zeros.data(), static_cast<uint32_t>(zeros.size()));
  Sha256 digest;
  Sha256Init(&digest);
  DigestSink sink(file, &digest);
  ok = ok && WritePackageMarker(sink);
  for (const PackEntry& e : r.entries) {
    if (!ok) break;
    std::string path = Utf8Of(PathOf(payloadDir) / e.name);
    File in(OpenFile(path, "rb"));
    ok = in && WritePackageEntryHead(sink, e.name.c_str(), static_cast<uint32_t>(e.size)) &&
         CopyStream(in.get(), sink, e.size, true);
    if (!in) r.message = "cannot read " + path;
  }
  ok = ok && WritePackageEnd(sink);
  Sha256Final(&digest, r.digest);
  for (const auto& [at, bytes] : stamp) {
    ok = ok && SeekTo(out.get(), at) &&
         fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
  }
  if (ok && slot.found) {
    // The digest goes into the image before anything signs it.
    unsigned char field[4] = {0, 0, 0, 0};
    ok = SeekTo(out.get(), slot.digestAt) &&
         fwrite(r.digest, 1, kSha256Len, out.get()) == kSha256Len &&
         SeekTo(out.get(), slot.checksumAt) && fwrite(field, 1, 4, out.get()) == 4 &&
         fflush(out.get()) == 0;
    uint32_t sum = 0;
    ok = ok && PeChecksum(tmp, slot.checksumAt, &sum);
    StoreLe32(field, sum);
    ok = ok && SeekTo(out.get(), slot.checksumAt) && fwrite(field, 1, 4, out.get()) == 4;
    r.bound = ok;
  }
  ok = fflush(out.get()) == 0 && ok;
  out.reset();
  if (!ok) {
    fs::remove(PathOf(tmp), ec);
    return FailFile(r.message.empty() ? "cannot write " + tmp : r.message);
  }
  fs::rename(PathOf(tmp), PathOf(outputPath), ec);
  if (ec) {
    fs::remove(PathOf(tmp), ec);
    return FailFile("cannot create " + outputPath + ": " + ec.message());
  }
  r.carrierSize = total;
  return r;
}

namespace {

class FileReader : public PackageReader {
 public:
  explicit FileReader(FILE* f) : f_(f) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    *got = static_cast<uint32_t>(fread(buffer, 1, count, f_));
    if (ferror(f_)) {
      error_ = static_cast<uint32_t>(errno);
      return false;
    }
    return true;
  }
  uint32_t LastError() override { return error_; }

 private:
  FILE* f_;
  uint32_t error_ = 0;
};

class CollectTarget : public PackageTarget {
 public:
  CollectTarget(ReadResult& r, const std::string& dir) : r_(r), dir_(dir) {}
  bool Open(const char* name, const char* path) override {
    if (strcmp(name, kPackageEndName) == 0) {
      r_.sawEnd = true;
      return true;
    }
    r_.entries.push_back({name, 0});
    if (dir_.empty()) return true;
    file_.reset(OpenFile(EntryPath(dir_, name), "wb"));
    return file_ != nullptr;
  }
  bool Write(const void* data, uint32_t count) override {
    r_.entries.back().size += count;
    return !file_ || fwrite(data, 1, count, file_.get()) == count;
  }
  void Close() override { file_.reset(); }
  void Log(const char* line) override { r_.log.push_back(line); }

 private:
  ReadResult& r_;
  std::string dir_;
  File file_;
};

}  // namespace

ReadResult ReadCarrier(const std::string& carrierPath, uint32_t offset,
                       const std::string& extractDir) {
  ReadResult r;
  std::error_code ec;
  uint64_t size = fs::file_size(PathOf(carrierPath), ec);
  if (ec) {
    r.message = "cannot read " + carrierPath + ": " + ec.message();
    return r;
  }
  if (size >= k4GiB || size <= offset) {
    r.error = kUnpackErrCarrierSize;
    r.message = "carrier is " + std::to_string(size) + " bytes: " + InstallErrorText(r.error);
    return r;
  }
  if (!extractDir.empty() && !fs::is_directory(PathOf(extractDir), ec)) {
    r.error = kUnpackErrNoDstFolder;
    r.message = "destination folder not found: " + extractDir;
    return r;
  }
  File in(OpenFile(carrierPath, "rb"));
  unsigned char head[kCertHeadLen];
  const uint32_t headLen = in ? static_cast<uint32_t>(fread(head, 1, sizeof head, in.get())) : 0;
  if (!in || !SeekTo(in.get(), offset)) {
    r.error = kUnpackErrOpenCarrier;
    r.message = "cannot open " + carrierPath;
    return r;
  }
  // Setup.exe reads no package byte from its signature's certificate table (a package that
  // starts inside it may read none).
  const CertLimit cert =
      PackageCertLimit(head, headLen, offset, static_cast<uint32_t>(size - offset));
  FileReader file(in.get());
  LimitedReader reader(file, cert.readable);
  CollectTarget target(r, extractDir);
  uint32_t err = 0;
  Sha256 digest;
  Sha256Init(&digest);
  // The names olvpack builds are ASCII, the same under every code page; other packages are
  // judged as a system with code page 1252 would unpack them.
  r.ok = WalkPackage(reader, static_cast<uint32_t>(size - offset), kWorkFolder, target, &err, 1252,
                     &digest) == 1;
  if (!r.ok && reader.RanInto()) err = kUnpackErrInSignature;
  Sha256Final(&digest, r.digest);
  r.slot = ReadDigestSlot(carrierPath);
  if (r.ok && offset == kExeCarrierOffset && r.slot.bound &&
      memcmp(r.slot.digest, r.digest, kSha256Len) != 0) {
    r.ok = false;
    err = kUnpackErrDigest;
  }
  if (!r.ok) {
    r.error = err;
    r.message = "error " + std::to_string(err) + ": " + InstallErrorText(err);
  } else if (r.sawEnd) {
    r.packageEnd = static_cast<uint64_t>(offset) + kPackageMarkerLen + kPackageEntryHeaderLen +
                   kPackageEndNameLen;
    for (const PackEntry& e : r.entries)
      r.packageEnd += kPackageEntryHeaderLen + e.name.size() + e.size;
    r.signatureBytes = SignatureAfter(carrierPath, r.packageEnd);
  }
  return r;
}

bool CheckAgainstProgram(ReadResult* r, const std::string& programPath) {
  r->slot = ReadDigestSlot(programPath);
  if (!r->slot.found) return false;
  if (r->ok && r->slot.bound && memcmp(r->slot.digest, r->digest, kSha256Len) != 0) {
    r->ok = false;
    r->error = kUnpackErrDigest;
    r->message = "error 167: " + std::string(InstallErrorText(r->error)) + " " + programPath +
                 " (it holds " + DigestHex(r->slot.digest) + ")";
  }
  return true;
}

uint32_t SignatureAfter(const std::string& path, uint64_t packageEnd) {
  File f(OpenFile(path, "rb"));
  if (!f) return 0;
  auto at = [&](uint64_t pos, void* buf, size_t n) {
    return SeekTo(f.get(), pos) && fread(buf, 1, n, f.get()) == n;
  };
  unsigned char b[8];
  if (!at(0, b, 2) || b[0] != 'M' || b[1] != 'Z' || !at(0x3c, b, 4)) return 0;
  uint64_t pe = LoadLe32(b);
  if (!at(pe, b, 4) || memcmp(b, "PE\0\0", 4) != 0) return 0;
  uint64_t opt = pe + 24;
  if (!at(opt, b, 2)) return 0;
  unsigned magic = b[0] | b[1] << 8;
  // Where the number of directories and the directories start: PE32 or PE32+.
  uint64_t count = opt + (magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0);
  if (count == opt || !at(count, b, 4) || LoadLe32(b) <= 4) return 0;
  if (!at(count + 4 + 4 * 8, b, 8)) return 0;  // directory 4: the certificate table
  uint64_t table = LoadLe32(b), size = LoadLe32(b + 4);
  std::error_code ec;
  uint64_t fileSize = fs::file_size(PathOf(path), ec);
  if (ec || size < 8 || table < packageEnd || table - packageEnd >= 8 || table + size != fileSize)
    return 0;
  unsigned char pad[8] = {0};
  if (table > packageEnd && !at(packageEnd, pad, static_cast<size_t>(table - packageEnd))) return 0;
  for (unsigned char c : pad)
    if (c != 0) return 0;
  return static_cast<uint32_t>(size);
}

namespace {

uint32_t Le16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | p[1] << 8; }

}  // namespace

DigestSlot ReadDigestSlot(const std::string& path) {
  DigestSlot slot;
  File f(OpenFile(path, "rb"));
  if (!f) return slot;
  auto at = [&](uint64_t pos, void* buf, size_t n) {
    return SeekTo(f.get(), pos) && fread(buf, 1, n, f.get()) == n;
  };
  unsigned char b[40];
  if (!at(0, b, 2) || b[0] != 'M' || b[1] != 'Z' || !at(0x3c, b, 4)) return slot;
  const uint64_t pe = LoadLe32(b);
  if (!at(pe, b, 24) || memcmp(b, "PE\0\0", 4) != 0) return slot;
  const uint32_t sections = Le16(b + 6), optSize = Le16(b + 20);
  const uint64_t opt = pe + 24;
  if (!at(opt, b, 2) || (Le16(b) != 0x10b && Le16(b) != 0x20b) || optSize < 68) return slot;
  auto take = [&](uint64_t digestAt, const unsigned char* s) {
    slot.found = true;
    slot.digestAt = digestAt;
    slot.checksumAt = opt + 64;
    memcpy(slot.digest, s + kDigestSlotMarkerLen, kSha256Len);
    for (unsigned char c : slot.digest) slot.bound = slot.bound || c != 0;
  };
  // Earlier programs: a section of its own that starts with the slot.
  std::vector<std::pair<uint64_t, uint32_t>> raw;  // each section's file offset and size
  for (uint32_t i = 0; i < sections && i < 96; ++i) {
    if (!at(opt + optSize + 40ull * i, b, 40)) return slot;
    raw.emplace_back(LoadLe32(b + 20), LoadLe32(b + 16));
    if (memcmp(b, kDigestSlotSection, kDigestSlotSectionLen) != 0) continue;
    unsigned char s[kDigestSlotLen];
    if (LoadLe32(b + 16) < kDigestSlotLen || !at(raw.back().first, s, kDigestSlotLen) ||
        memcmp(s, kDigestSlotMarker, kDigestSlotMarkerLen) != 0)
      return slot;
    take(raw.back().first + kDigestSlotMarkerLen, s);
    return slot;
  }
  // Otherwise the slot lies in one of the sections, wherever the linker put it: the marker
  // must occur exactly once in the sections' contents, with the whole slot in its section.
  // Only the image is searched: the package behind it may hold the marker too.
  uint64_t found = 0;
  unsigned char s[kDigestSlotLen];
  int count = 0;
  for (const auto& [offset, size] : raw) {
    if (size > 64u << 20) return slot;  // no stub's section is that large
    std::vector<unsigned char> data(size);
    if (!at(offset, data.data(), size)) return slot;
    for (auto it = data.begin();; ++it) {
      it = std::search(it, data.end(), kDigestSlotMarker, kDigestSlotMarker + kDigestSlotMarkerLen);
      if (it == data.end()) break;
      if (static_cast<size_t>(data.end() - it) < kDigestSlotLen) return slot;
      ++count;
      found = offset + (it - data.begin());
      memcpy(s, &*it, kDigestSlotLen);
    }
  }
  if (count == 1) take(found + kDigestSlotMarkerLen, s);
  return slot;
}

bool PeChecksum(const std::string& path, uint64_t checksumAt, uint32_t* sum) {
  File f(OpenFile(path, "rb"));
  if (!f) return false;
  // The sum of the file's 16-bit little-endian words, carries folded back in, plus the
  // file's length.
  uint64_t s = 0, pos = 0;
  std::vector<unsigned char> buf(1 << 16);
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), f.get())) > 0) {
    if (n % 2 != 0) buf[n++] = 0;  // only at the end: the buffer's size is even
    for (size_t i = 0; i < n; i += 2, pos += 2) {
      if (pos == checksumAt || pos == checksumAt + 2) continue;
      s += static_cast<uint32_t>(buf[i]) | buf[i + 1] << 8;
      s = (s & 0xffff) + (s >> 16);
    }
  }
  if (ferror(f.get())) return false;
  std::error_code ec;
  uint64_t size = fs::file_size(PathOf(path), ec);
  if (ec) return false;
  s = (s & 0xffff) + (s >> 16);
  *sum = static_cast<uint32_t>(s + size);
  return true;
}

std::string DigestHex(const unsigned char digest[kSha256Len]) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (uint32_t i = 0; i < kSha256Len; ++i) {
    s += kHex[digest[i] >> 4];
    s += kHex[digest[i] & 15];
  }
  return s;
}
