// Benchmark (not a test): unpacks a large package with utl_FileUnpack and copies the same
// carrier with CopyFileA, in one run, and prints both times, their ratio and the size of
// the stub (Setup.exe) given on the command line.
//   bench_unpack.exe [Setup.exe] [MiB of payload, default 256]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

}  // namespace

int main(int argc, char** argv) {
  const char* stubPath = argc > 1 ? argv[1] : nullptr;
  DWORD mib = argc > 2 ? strtoul(argv[2], nullptr, 10) : 256;
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  char root[MAX_PATH], carrier[MAX_PATH], copy[MAX_PATH], out[MAX_PATH];
  snprintf(root, sizeof root, "%solvan_bench_%lu", tmp, GetCurrentProcessId());
  snprintf(carrier, sizeof carrier, "%s\\carrier.exe", root);
  snprintf(copy, sizeof copy, "%s\\copy.exe", root);
  snprintf(out, sizeof out, "%s\\out", root);
  CreateDirectoryA(root, nullptr);
  CreateDirectoryA(out, nullptr);

  DWORD stubSize = 0;
  HANDLE h = CreateFileA(carrier, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  static unsigned char block[1 << 20];
  if (stubPath != nullptr) {
    HANDLE s = CreateFileA(stubPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
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

  LARGE_INTEGER f, t0, t1, t2, t3;
  QueryPerformanceFrequency(&f);
  // A first copy warms the file cache, so that both measured runs read cached bytes.
  CopyFileA(carrier, copy, FALSE);
  DeleteFileA(copy);
  QueryPerformanceCounter(&t0);
  BOOL copied = CopyFileA(carrier, copy, FALSE);
  QueryPerformanceCounter(&t1);
  DWORD err = 0;
  QueryPerformanceCounter(&t2);
  int unpacked = utl_FileUnpack(root, "carrier.exe", out, &err, kExeCarrierOffset);
  QueryPerformanceCounter(&t3);

  double copySec = Seconds(t0, t1, f), unpackSec = Seconds(t2, t3, f);
  printf("payload:        %lu MiB in %lu entries (carrier %lu bytes)\n", perEntry * kEntries,
         kEntries, kExeCarrierOffset + kPackageMarkerLen + kEntries * (perEntry << 20) + kEntries * 17);
  printf("stub size:      %lu bytes%s\n", stubSize, stubPath ? "" : " (no stub given)");
  printf("CopyFileA:      %.3f s%s\n", copySec, copied ? "" : " (FAILED)");
  printf("utl_FileUnpack: %.3f s%s\n", unpackSec, unpacked ? "" : " (FAILED)");
  printf("ratio:          %.2f (unpack / copy)\n", copySec > 0 ? unpackSec / copySec : 0.0);
  utl_RemoveFolderTree(root);
  return copied && unpacked ? 0 : 1;
}
