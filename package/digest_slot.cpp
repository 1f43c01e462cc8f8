#include "package/digest_slot.h"

// The slot itself. Volatile: the compiler sees zeros here and would otherwise fold the
// "not bound" test away; the release tool changes these bytes in the file after the link.
__attribute__((section(".olvdgst"),
               used)) volatile const unsigned char g_packageDigestSlot[kDigestSlotLen] =
    "Olvan.pkg.sha256";

bool ReadBoundDigest(unsigned char digest[kSha256Len]) {
  unsigned char any = 0;
  for (uint32_t i = 0; i < kSha256Len; ++i) {
    digest[i] = g_packageDigestSlot[kDigestSlotMarkerLen + i];
    any |= digest[i];
  }
  return any != 0;
}
