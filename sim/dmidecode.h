// Runs the real dmidecode on a table dump.
#pragma once

#include <string>

namespace sim {

struct DmidecodeResult {
  int exitStatus = -1;
  std::string output;  // standard output and standard error together
};

// dmidecode --from-dump PATH with extra arguments (for example "-t 9").
DmidecodeResult RunDmidecode(const std::string &dumpPath, const std::string &arguments = "");

// The first of dmidecode's own warning markers (a bad string index, a value
// outside the standard's range, a truncated or malformed structure) found in
// its output, or empty when it decoded everything cleanly.
std::string DmidecodeWarning(const std::string &output);

// Where dmidecode is; empty when it is not installed.
std::string DmidecodePath();

}  // namespace sim
