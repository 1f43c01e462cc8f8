// A recorder in place of util/process_start.cpp, for unit tests: a test program that links
// start_recorder.cpp gets this StartProcess, which notes what each start hands to Windows
// and then starts the process for real. Wine checks little of it (it reads an attribute
// list whatever the block's cb says), Windows checks all of it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct RecordedAttribute {
  DWORD_PTR attribute;
  SIZE_T size;
  std::vector<HANDLE> handles;  // a handle list's handles
};

struct RecordedStart {
  bool hasApplication = false;
  std::string application, commandLine;
  // No process or thread security, the setup's environment and current folder.
  bool defaults = false;
  BOOL inheritHandles = FALSE;
  DWORD flags = 0;
  STARTUPINFOA startup = {};  // the block's first sizeof(STARTUPINFOA) bytes
  // GetNamedPipeInfo's flags of the block's standard output at the start, when it is a pipe.
  bool stdOutputIsPipe = false;
  DWORD stdOutputPipeFlags = 0;
  // With EXTENDED_STARTUPINFO_PRESENT: the attribute list, read in the layout that Windows
  // and Wine share (a header of flags, capacity, count, two reserved fields, then one
  // {attribute, size, value} entry per attribute). listRead is false when there is none.
  bool listRead = false;
  DWORD listCapacity = 0, listCount = 0;
  std::vector<RecordedAttribute> attributes;
  BOOL result = FALSE;
};

// Every start since the last Clear, in order.
std::vector<RecordedStart>& RecordedStarts();
