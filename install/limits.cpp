#include "install/limits.h"

#include <strings.h>

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

bool IsRecordName(const std::string& name) {
  constexpr char prefix[] = "uninstall_";
  constexpr char suffix[] = ".inf";
  return name.size() >= sizeof prefix - 1 + sizeof suffix - 1 &&
         strncasecmp(name.c_str(), prefix, sizeof prefix - 1) == 0 &&
         strcasecmp(name.c_str() + name.size() - (sizeof suffix - 1), suffix) == 0;
}

bool SameFileName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }
