// Whether the installed client is protected by an uninstall password.
#pragma once

// True when the user must type the uninstall password before the upgrade; the stored
// password (stored text form, at most 128 characters) is then in storedPwd (129 bytes).
bool IsUninstallPrompt(const char* logName, char* storedPwd);
