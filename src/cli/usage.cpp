// The usage line and the short program name it shows.
#include "cli/usage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* ShortProgramName(char* programPath, const char* fallback) {
  if (programPath == nullptr) {
    return fallback;
  }
  char* name = std::strrchr(programPath, '\\');
  if (name == nullptr) {
    name = std::strrchr(programPath, '/');
  }
  if (name == nullptr) {
    name = std::strrchr(programPath, ':');
  }
  name = name == nullptr ? programPath : name + 1;
  char* stop = std::strrchr(name, '.');
  if (stop != nullptr) {
    *stop = '\0';
  }
  return name;
}

void PrintUsageAndExit(char* programPath, const char* fallback, const char* argumentNames) {
  std::printf("\nUsage: %s %s \n", ShortProgramName(programPath, fallback), argumentNames);
  std::exit(0);
}
