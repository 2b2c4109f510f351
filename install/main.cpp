// install: deploys and removes the package (see driver.h for the command lines).
#include <string>
#include <vector>

#include "install/driver.h"
#include "platform/win/text.h"

int main(int argc, char** argv) {
  // The installer's entry takes wide-character arguments, as the original's did.
  std::vector<std::u16string> wide;
  for (int i = 0; i < argc; ++i) wide.push_back(Utf8ToWide(argv[i]));
  std::vector<const WCHAR*> arguments;
  for (const std::u16string& argument : wide) arguments.push_back(argument.c_str());
  arguments.push_back(nullptr);
  return InstallerMain(argc, arguments.data(), RealInstallPlatform());
}
