#include "gate/gate_decision.h"

// Until the gate reads the installed client's customization data, no client counts as
// protected.
bool IsUninstallPrompt(const char* logName, char* storedPwd) { return false; }
