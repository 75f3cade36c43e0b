#include "sim/dmidecode.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

namespace sim {

std::string DmidecodeWarning(const std::string &output) {
  // Its markers in a decoded field, then its words for a table it could not read whole.
  static const char *const kMarkers[] = {"<BAD INDEX>",          "<OUT OF SPEC>",
                                         "<TRUNCATED>",          "Invalid entry length",
                                         "Wrong DMI structures", "Bad checksum",
                                         "DMI table is broken",  "unreachable",
                                         "truncated",            "Truncated",
                                         "Invalid"};
  for (const char *marker : kMarkers) {
    if (output.find(marker) != std::string::npos) {
      return marker;
    }
  }
  return "";
}

std::string DmidecodePath() {
  for (const char *candidate : {"/usr/sbin/dmidecode", "/sbin/dmidecode", "/usr/bin/dmidecode"}) {
    if (access(candidate, X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

DmidecodeResult RunDmidecode(const std::string &dumpPath, const std::string &arguments) {
  DmidecodeResult result;
  std::string binary = DmidecodePath();
  if (binary.empty()) {
    result.output = "dmidecode is not installed";
    return result;
  }
  std::string command = binary + " --from-dump '" + dumpPath + "' " + arguments + " 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    result.output = "cannot run " + binary;
    return result;
  }
  std::array<char, 4096> chunk;
  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    result.output.append(chunk.data(), got);
  }
  int status = pclose(pipe);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace sim
