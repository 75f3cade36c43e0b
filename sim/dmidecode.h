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

// Where dmidecode is; empty when it is not installed.
std::string DmidecodePath();

}  // namespace sim
