#pragma once
// Restricts the DLL search of the process to System32, so that DLLs planted beside the
// program (a Downloads folder) are never loaded. Must run before anything else loads a DLL.
void HardenDllSearch();
