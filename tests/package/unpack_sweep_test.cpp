// Bad input in bulk: utl_FileUnpack in a loop on every truncation of a small valid package
// and on seeded random mutations of it. Every call must give 1 or an error number from 150
// to 166 and leave nothing outside the destination folder.
//   OLVAN_SWEEP_SEED   first seed (default 1); a failure names the seed that replays it
//   OLVAN_SWEEP_COUNT  number of mutated packages (default 10000)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>
#include <set>
#include <string>

#include "package/unpack.h"
#include "tests/package/package_craft.h"
#include "tests/util/win_test_util.h"
#include "util/folders.h"

namespace {

const DWORD kOffset = 64;

std::set<std::string> List(const std::string& folder, bool* hasFolder = nullptr) {
  std::set<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::string n = fd.cFileName;
    if (n == "." || n == "..") continue;
    names.insert(n);
    if (hasFolder && (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) *hasFolder = true;
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

std::string ValidPackage() {
  return Marker() + Entry("7za.exe", Pattern(300, 1)) + Entry("empty", "") +
         Entry("Portal-cfg.xml", "<cfg/>") + Entry("b.bin", Pattern(500, 2)) + EndEntry();
}

class Sweep {
 public:
  Sweep() : root_(NewTempFolder("sweep")), dst_(root_ + "\\out") {
    CreateDirectoryA(dst_.c_str(), nullptr);
    before_ = List(root_);
  }
  ~Sweep() { utl_RemoveFolderTree(root_.c_str()); }

  // Unpacks one package; returns an empty string or what went wrong.
  std::string Run(const std::string& package) {
    WriteFileBytes(root_ + "\\carrier.bin", std::string(kOffset, 'S') + package);
    DWORD err = 0;
    int r = utl_FileUnpack(root_.c_str(), "carrier.bin", dst_.c_str(), &err, kOffset);
    std::string problem;
    if (r == 1 && err != 0) problem = "success with an error number";
    if (r == 0 && (err < 150 || err > 166)) problem = "error number " + std::to_string(err);
    if (r != 0 && r != 1) problem = "result " + std::to_string(r);
    std::set<std::string> now = List(root_);
    now.erase("carrier.bin");
    std::set<std::string> want = before_;
    want.erase("carrier.bin");
    if (now != want) problem += " wrote beside the destination folder";
    bool hasFolder = false;
    List(dst_, &hasFolder);
    if (hasFolder) problem += " made a folder in the destination";
    DeleteMatchingFiles(dst_, "*");
    ++calls_;
    return problem;
  }
  int calls_ = 0;

 private:
  void DeleteMatchingFiles(const std::string& folder, const char* pattern) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\" + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
      std::string p = folder + "\\" + fd.cFileName;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(p.c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  std::string root_, dst_;
  std::set<std::string> before_;
};

unsigned long EnvNumber(const char* name, unsigned long fallback) {
  const char* v = getenv(name);
  return v && *v ? strtoul(v, nullptr, 10) : fallback;
}

TEST(UnpackSweep, EveryTruncation) {
  Sweep sweep;
  std::string pkg = ValidPackage();
  for (size_t len = 0; len <= pkg.size(); ++len) {
    std::string problem = sweep.Run(pkg.substr(0, len));
    ASSERT_EQ(problem, "") << "truncated to " << len << " bytes";
  }
  EXPECT_EQ(sweep.calls_, static_cast<int>(pkg.size() + 1));
}

// One mutation of the valid package: flipped, overwritten, inserted or removed bytes, a
// rewritten length field, or a name that tries to leave the folder.
std::string Mutate(const std::string& pkg, std::mt19937& rng) {
  std::string m = pkg;
  int edits = 1 + static_cast<int>(rng() % 4);
  static const char* const kNames[] = {"..\\up.txt", "..",    "a\\b",  "CON", "c:x",
                                       "nul.txt",    "../up", "sub/x", "x.",  "\x01"};
  for (int e = 0; e < edits; ++e) {
    size_t at = m.empty() ? 0 : rng() % m.size();
    switch (rng() % 6) {
      case 0:
        if (!m.empty()) m[at] = static_cast<char>(m[at] ^ (1u << (rng() % 8)));
        break;
      case 1:
        if (!m.empty()) m[at] = static_cast<char>(rng());
        break;
      case 2: m.insert(at, std::string(1 + rng() % 8, static_cast<char>(rng()))); break;
      case 3: m.erase(at, 1 + rng() % 8); break;
      case 4: {
        // A length field of the first entries, set to an interesting value.
        static const uint32_t kValues[] = {0,    1,    11,         64,         65,        4095,
                                           4096, 4097, 0x7fffffff, 0xffffffff, 0xfffffff0};
        size_t field = 17 + (rng() % 2) * 4;
        if (m.size() >= field + 4)
          m.replace(field, 4, Le32(kValues[rng() % (sizeof kValues / sizeof kValues[0])]));
        break;
      }
      default: {
        std::string name = kNames[rng() % (sizeof kNames / sizeof kNames[0])];
        m = Marker() + Entry(name, "escape") + m.substr(std::min<size_t>(17, m.size()));
        break;
      }
    }
  }
  return m;
}

TEST(UnpackSweep, SeededMutations) {
  unsigned long seed = EnvNumber("OLVAN_SWEEP_SEED", 1);
  unsigned long count = EnvNumber("OLVAN_SWEEP_COUNT", 10000);
  Sweep sweep;
  std::string pkg = ValidPackage();
  for (unsigned long i = 0; i < count; ++i) {
    std::mt19937 rng(static_cast<uint32_t>(seed + i));
    std::string problem = sweep.Run(Mutate(pkg, rng));
    ASSERT_EQ(problem, "") << "replay with OLVAN_SWEEP_SEED=" << seed + i << " OLVAN_SWEEP_COUNT=1";
  }
  EXPECT_EQ(sweep.calls_, static_cast<int>(count));
}

}  // namespace
