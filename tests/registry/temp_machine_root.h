// A machine root of its own for each test: PELISTRA_ROOT points into a fresh temporary folder,
// removed afterwards. The platform reads PELISTRA_ROOT on every call and reopens the registry when
// it changes, so nothing else needs resetting.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry/registry.h"

class TempMachineRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelistra-root-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("PELISTRA_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    RegistryCloseDatabase();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    unsetenv("PELISTRA_ROOT");
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};
