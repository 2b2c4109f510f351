#include "install/run_context.h"

std::vector<std::string> ReadLines(FILE* file) {
  std::vector<std::string> lines;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, file)) lines.emplace_back(buffer);
  return lines;
}
