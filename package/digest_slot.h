// The slot in Setup.exe's image that binds the program to its package. No operating system
// needed: the release tool writes the slot with these constants, Setup.exe reads it.
//
// The program's file can be renamed and replaced while it runs (Windows allows renaming a
// running image), and the bytes behind the image are anyone's to append; only the image
// mapped in memory cannot be swapped. The release tool therefore writes the SHA-256 of the
// package (see WalkPackage's digest) into the image before it is signed, and the unpack of
// the program's own package refuses a package that does not match it.
//
// The slot is the 16-byte marker, then the 32-byte digest, among the image's read-only
// data; the marker occurs nowhere else in the image. Earlier programs held it in a section
// of its own, ".olvdgst" (the release tool still binds those). A digest of all zeros means
// "not bound" (a program that the tool did not build).
#pragma once
#include <stdint.h>

#include "package/sha256.h"

const char kDigestSlotSection[] = ".olvdgst";
const uint32_t kDigestSlotSectionLen = 8;
const char kDigestSlotMarker[] = "Olvan.pkg.sha256";
const uint32_t kDigestSlotMarkerLen = 16;
const uint32_t kDigestSlotLen = kDigestSlotMarkerLen + kSha256Len;

// The slot in the running program's image (tests write into it to bind their program).
extern const unsigned char g_packageDigestSlot[kDigestSlotLen];

// Copies the digest that the running program's slot holds. False when it holds none (all
// zeros); digest is then all zeros too.
bool ReadBoundDigest(unsigned char digest[kSha256Len]);
