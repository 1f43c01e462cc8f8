// Starting another program (the signing tool) from the release tools and gathering what it
// prints, on Linux and on Windows.
#pragma once
#include <string>
#include <vector>

// The program to start for name: on Windows, a name without a folder is looked up as
// name.exe in the folders of PATH only (never the current folder, where anyone who put a
// file there would be run); empty when none is found there. Elsewhere name itself (the
// PATH search happens when it is started).
std::string ResolveProgram(const std::string& name);

// Runs args[0] (a path from ResolveProgram) with the other arguments, standard input empty,
// standard output and error gathered in *output. Returns its exit status, or -1 when it
// could not be started.
int RunProgram(const std::vector<std::string>& args, std::string* output);
