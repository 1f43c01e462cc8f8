#include "tests/support/start_recorder.h"

#include "util/process_start.h"

namespace {

struct AttributeEntry {
  DWORD_PTR attribute;
  SIZE_T size;
  void* value;
};
struct AttributeListHead {
  DWORD flags, capacity, count, reserved;
  DWORD_PTR unknown;
  AttributeEntry entries[1];
};

}  // namespace

std::vector<RecordedStart>& RecordedStarts() {
  static std::vector<RecordedStart> starts;
  return starts;
}

BOOL WINAPI StartProcess(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSa,
                         LPSECURITY_ATTRIBUTES threadSa, BOOL inheritHandles, DWORD flags,
                         LPVOID environment, LPCSTR folder, LPSTARTUPINFOA startup,
                         LPPROCESS_INFORMATION process) {
  RecordedStart r;
  r.defaults =
      processSa == nullptr && threadSa == nullptr && environment == nullptr && folder == nullptr;
  r.hasApplication = application != nullptr;
  if (application) r.application = application;
  if (commandLine) r.commandLine = commandLine;
  r.inheritHandles = inheritHandles;
  r.flags = flags;
  r.startup = *startup;
  if (startup->hStdOutput != nullptr)
    r.stdOutputIsPipe = GetNamedPipeInfo(startup->hStdOutput, &r.stdOutputPipeFlags, nullptr,
                                         nullptr, nullptr) != FALSE;
  if (flags & EXTENDED_STARTUPINFO_PRESENT) {
    auto* head = reinterpret_cast<const AttributeListHead*>(
        reinterpret_cast<STARTUPINFOEXA*>(startup)->lpAttributeList);
    if (head != nullptr && head->count <= head->capacity && head->capacity < 64) {
      r.listRead = true;
      r.listCapacity = head->capacity;
      r.listCount = head->count;
      for (DWORD i = 0; i < head->count; ++i) {
        const AttributeEntry& e = head->entries[i];
        RecordedAttribute a{e.attribute, e.size, {}};
        if (e.attribute == PROC_THREAD_ATTRIBUTE_HANDLE_LIST)
          for (SIZE_T k = 0; k < e.size / sizeof(HANDLE); ++k)
            a.handles.push_back(static_cast<HANDLE*>(e.value)[k]);
        r.attributes.push_back(a);
      }
    }
  }
  r.result = CreateProcessA(application, commandLine, processSa, threadSa, inheritHandles, flags,
                            environment, folder, startup, process);
  RecordedStarts().push_back(r);
  return r.result;
}
