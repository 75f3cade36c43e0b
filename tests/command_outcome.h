// Running a program as a user does from a shell, for suites that test a
// command: its exit status and what it printed.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace testing_support {

struct Outcome {
  int status;  // the exit status; -1 when it did not exit normally or could not start
  std::string output;
};

// Runs COMMAND through the shell and collects its standard output (and
// whatever the command's own redirections send there).
inline Outcome RunCommand(const std::string &command) {
  Outcome outcome{-1, ""};
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  std::array<char, 4096> chunk;
  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) outcome.output.append(chunk.data(), got);
  int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

}  // namespace testing_support
