#include "util/log_line.h"

#include <string.h>

#include "util/fixed_str.h"

bool LogFileName(char* dst, size_t size, const char* base, const LogTime& t) {
  return StrFormat(dst, size, "%s%04u%02u%02u%02u.log", base, t.year, t.month, t.day, t.weekday);
}

bool LogFilePath(char* dst, size_t size, const char* folder, const char* base, const LogTime& t) {
  char name[260];
  return LogFileName(name, sizeof name, base, t) && StrJoinPath(dst, size, folder, name);
}

namespace {
bool SameAsciiIgnoringCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
}  // namespace

bool LogCleanupMatches(const char* name, const char* base, unsigned weekday) {
  char tail[16];
  if (!StrFormat(tail, sizeof tail, "%02u.log", weekday)) return false;
  size_t n = strlen(name), nb = strlen(base), nt = strlen(tail);
  return n >= nb + nt && SameAsciiIgnoringCase(name, base, nb) &&
         SameAsciiIgnoringCase(name + n - nt, tail, nt);
}

size_t LogComposeLine(char* out, size_t size, const LogTime& t, bool detailMark, LogThreadForm form,
                      unsigned long threadId, const char* message) {
  char prefix[96];
  if (!StrFormat(prefix, sizeof prefix, "[%04u-%02u-%02u %02u:%02u:%02u] %s", t.year, t.month,
                 t.day, t.hour, t.minute, t.second, detailMark ? "[DTL] " : ""))
    return 0;
  char thread[32];
  if (!StrFormat(thread, sizeof thread, form == LogThreadForm::Hex0x ? "[0x%lx] " : "[%lx] ",
                 threadId))
    return 0;
  size_t np = strlen(prefix), nt = strlen(thread), nm = strlen(message);
  size_t total = np + nt + nm + 2;
  if (out == nullptr || size < total) return total;
  memcpy(out, prefix, np);
  memcpy(out + np, thread, nt);
  memcpy(out + np + nt, message, nm);
  out[total - 2] = '\r';
  out[total - 1] = '\n';
  return total;
}
