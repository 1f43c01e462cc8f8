// Proving customization and uninstall-information files by their verification files.
// Each operation takes a folder (no trailing backslash) and returns 1 when the pair in it
// is proven, 0 otherwise. Nothing is logged; the callers log. Not reentrant: the digest
// input is assembled in one process-wide buffer.
#pragma once

#include "custom/verify_digest.h"

// "OlvanCustom.ini" by "OlvanCustom.vrf", default icon fingerprint.
int CusIniVerify(const char* folder);
// "OlvanCustom.xml" by "OlvanCustomXml.vrf". With withIcon 1 the fingerprint comes from the
// icon file iconName (a bare file name) in folder; when that file is missing it is first
// copied there from %SystemRoot%\system32 (and stays, whatever the result). A name that is
// empty or not a bare file name, or an icon shorter than 544 bytes, leaves the default
// fingerprint. With withIcon 0, iconName is ignored.
int CusXmlVerify(const char* folder, int withIcon, const char* iconName);
// "OlvanUninstallInfo.ini" by "OlvanUninstallInfo.vrf", default icon fingerprint.
int UninstallIniVerify(const char* folder);
// "OlvanUninstallInfo.xml" by "OlvanUninstallInfoXml.vrf", default icon fingerprint.
int UninstallXmlVerify(const char* folder);

// Fills the 32-byte fingerprint with bytes 512 to 543 of the icon file at path. 1 on
// success; 0, fingerprint unchanged, when the file is missing, shorter than 544 bytes, 4 GiB
// or larger, or cannot be read.
int IconFingerprint(const char* path, unsigned char* fingerprint);
