// olvsign: writes and checks the 256-byte verification files that Setup proves
// customization files by, and converts passwords to and from their stored text form.
// The command line lives in main.cpp; this is everything behind it, for the tests.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

// Exit codes.
enum OlvsignExit {
  kExitOk = 0,
  kExitRefused = 1,  // check: not proven; decrypt: not a stored password; encrypt: too long;
                     // either: not text in the given code page
  kExitUsage = 2,    // bad command line
  kExitFile = 3,     // a file cannot be read or written, or is unusable (too large, wrong size)
};

// Runs one command; args excludes the program name. in feeds "encrypt" without a password.
int RunOlvsign(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err);

// The 240 filler bytes for a seed text: MD5(seed, block number) for 15 blocks.
std::vector<unsigned char> FillerFromSeed(const std::string& seed);
