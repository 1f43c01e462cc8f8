// Benchmark (not a test): unpacks a large package with utl_FileUnpack and copies the same
// carrier with CopyFileA, in turn (unpack, copy, unpack, copy...) for a number of pairs,
// removing the outputs between runs, and prints the median and the range of each time and
// of the ratio, and the size of the stub (Setup.exe) given on the command line.
//   bench_unpack.exe [Setup.exe] [MiB of payload, default 256] [pairs, default 7]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "package/mix.h"
#include "package/package_format.h"
#include "package/unpack.h"
#include "util/folders.h"

namespace {

const DWORD kEntries = 4;

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

bool Put(HANDLE h, const void* p, DWORD n) {
  DWORD w = 0;
  return WriteFile(h, p, n, &w, nullptr) && w == n;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Report(const char* what, const std::vector<double>& v, const char* unit) {
  printf("%-15s median %.3f%s  min %.3f%s  max %.3f%s\n", what, Median(v), unit,
         *std::min_element(v.begin(), v.end()), unit, *std::max_element(v.begin(), v.end()), unit);
}

}  // namespace

int main(int argc, char** argv) {
  const char* stubPath = argc > 1 && strcmp(argv[1], "-") != 0 ? argv[1] : nullptr;
  DWORD mib = argc > 2 ? strtoul(argv[2], nullptr, 10) : 256;
  DWORD pairs = argc > 3 ? strtoul(argv[3], nullptr, 10) : 7;
  if (pairs == 0) pairs = 1;
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  char root[MAX_PATH], carrier[MAX_PATH], copy[MAX_PATH], out[MAX_PATH];
  snprintf(root, sizeof root, "%solvan_bench_%lu", tmp, GetCurrentProcessId());
  snprintf(carrier, sizeof carrier, "%s\\carrier.exe", root);
  snprintf(copy, sizeof copy, "%s\\copy.exe", root);
  snprintf(out, sizeof out, "%s\\out", root);
  CreateDirectoryA(root, nullptr);

  DWORD stubSize = 0;
  HANDLE h = CreateFileA(carrier, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  static unsigned char block[1 << 20];
  if (stubPath != nullptr) {
    HANDLE s =
        CreateFileA(stubPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n = 0;
    if (s == INVALID_HANDLE_VALUE || !ReadFile(s, block, kExeCarrierOffset, &n, nullptr)) return 1;
    CloseHandle(s);
    stubSize = n;
    Put(h, block, n);
  }
  memset(block, 0, kExeCarrierOffset - stubSize);
  Put(h, block, kExeCarrierOffset - stubSize);
  unsigned char marker[kPackageMarkerLen];
  memcpy(marker, kPackageMarker, kPackageMarkerLen);
  MixBuffer(marker, kPackageMarkerLen);
  Put(h, marker, kPackageMarkerLen);
  DWORD perEntry = mib / kEntries;
  for (DWORD i = 0; i < sizeof block; ++i) block[i] = static_cast<unsigned char>(i * 131 + 7);
  for (DWORD e = 0; e < kEntries; ++e) {
    char name[16];
    int len = snprintf(name, sizeof name, "part%lu.bin", e);
    unsigned char head[8 + 16];
    StoreLe32(head, static_cast<uint32_t>(len));
    StoreLe32(head + 4, perEntry << 20);
    memcpy(head + 8, name, len);
    MixBuffer(head + 8, len);
    Put(h, head, 8 + len);
    for (DWORD m = 0; m < perEntry; ++m) Put(h, block, sizeof block);  // mixed or not: bytes
  }
  CloseHandle(h);

  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  // A first copy warms the file cache, so that every measured run reads cached bytes.
  CopyFileA(carrier, copy, FALSE);
  DeleteFileA(copy);
  std::vector<double> unpackSec, copySec, ratio;
  bool ok = true;
  for (DWORD i = 0; i < pairs && ok; ++i) {
    CreateDirectoryA(out, nullptr);
    DWORD err = 0;
    QueryPerformanceCounter(&t0);
    int unpacked = utl_FileUnpack(root, "carrier.exe", out, &err, kExeCarrierOffset);
    QueryPerformanceCounter(&t1);
    unpackSec.push_back(Seconds(t0, t1, f));
    utl_RemoveFolderTree(out);

    QueryPerformanceCounter(&t0);
    BOOL copied = CopyFileA(carrier, copy, FALSE);
    QueryPerformanceCounter(&t1);
    copySec.push_back(Seconds(t0, t1, f));
    DeleteFileA(copy);

    if (!unpacked) printf("utl_FileUnpack FAILED (error %lu)\n", err);
    if (!copied) printf("CopyFileA FAILED (error %lu)\n", GetLastError());
    ok = unpacked && copied;
    ratio.push_back(copySec.back() > 0 ? unpackSec.back() / copySec.back() : 0.0);
  }

  printf("payload:        %lu MiB in %lu entries (carrier %lu bytes)\n", perEntry * kEntries,
         kEntries,
         kExeCarrierOffset + kPackageMarkerLen + kEntries * (perEntry << 20) + kEntries * 17);
  printf("stub size:      %lu bytes%s\n", stubSize, stubPath ? "" : " (no stub given)");
  printf("runs:           %lu pairs, in turn: unpack, copy, unpack, copy...\n",
         static_cast<unsigned long>(unpackSec.size()));
  Report("utl_FileUnpack:", unpackSec, " s");
  Report("CopyFileA:", copySec, " s");
  Report("ratio:", ratio, "");
  printf("(ratio: unpack / copy of the same pair)\n");
  utl_RemoveFolderTree(root);
  return ok ? 0 : 1;
}
