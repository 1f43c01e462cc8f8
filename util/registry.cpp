#include "util/registry.h"

#include <string.h>

#include "util/handles.h"

namespace {
const DWORD kValueBuffer = 260;

bool OpenForQuery(HKEY root, const char* subKey, UniqueRegKey* key) {
  return RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, key->Receive()) == ERROR_SUCCESS;
}
}  // namespace

bool utl_ReadRegDword(HKEY root, const char* subKey, const char* valueName, DWORD* target) {
  if (target == nullptr) return false;
  UniqueRegKey key;
  if (!OpenForQuery(root, subKey, &key)) return false;
  DWORD size = sizeof(DWORD);
  return RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(target),
                          &size) == ERROR_SUCCESS;
}

bool utl_ReadRegString(HKEY root, const char* subKey, const char* valueName, char* target,
                       DWORD limit) {
  if (target == nullptr) return false;
  UniqueRegKey key;
  if (!OpenForQuery(root, subKey, &key)) return false;
  char value[kValueBuffer];
  memset(value, 0, sizeof value);
  DWORD size = sizeof value;
  if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                       &size) != ERROR_SUCCESS)
    return false;
  // A value that fills the buffer without a terminator is longer than anything the buffer
  // can hold as text: never read past its end.
  size_t len = strnlen(value, sizeof value);
  if (len >= sizeof value || len > limit) return false;
  memcpy(target, value, len + 1);
  return true;
}
