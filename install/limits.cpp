#include "install/limits.h"

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}
