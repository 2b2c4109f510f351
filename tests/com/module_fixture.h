// Tests that load the test modules: a machine root of their own and a log of DllMain calls.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "platform/com/inproc_server.h"
#include "platform/win/module.h"
#include "tests/registry/temp_machine_root.h"

class ModuleTest : public TempMachineRoot {
 protected:
  void SetUp() override {
    TempMachineRoot::SetUp();
    log_ = root() + "/dllmain.log";
    setenv("PELISTRA_TEST_MODULE_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    unsetenv("PELISTRA_TEST_MODULE_LOG");
    TempMachineRoot::TearDown();
  }

  // The DllMain calls so far, one "attach N" or "detach N" per line.
  std::string DllMainLog() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }


 public:
  // The folder of the test program, where the test modules are built.
  static std::string BinDirectory() {
    char path[4096];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program(path, length);
    return program.substr(0, program.rfind('/') + 1);
  }
  static std::string ModulePath(int index) { return BinDirectory() + "test_module_" + std::to_string(index) + ".ax"; }

 private:
  std::string log_;
};
