// Resource identifiers of Setup.exe.
#pragma once
#define IDI_SETUP 128
