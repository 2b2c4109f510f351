// hold_module PATH: loads the module and keeps it loaded until standard input ends, so a test can
// have a file "in use" by another process. Prints "loaded" once it is.
#include <cstdio>

#include "platform/win/module.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HMODULE module = LoadLibraryA(argv[1]);
  if (!module) return 3;
  std::printf("loaded\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  FreeLibrary(module);
  return 0;
}
