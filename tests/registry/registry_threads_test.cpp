// Threads of one process share its registry connection; each call stays whole.
#include <string>
#include <thread>
#include <vector>

#include "tests/registry/temp_machine_root.h"

namespace {

using RegistryThreads = TempMachineRoot;

TEST_F(RegistryThreads, CallsAndTransactionsFromSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kKeys = 100;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int k = 0; k < kKeys; ++k) {
        std::string path = "T" + std::to_string(t) + "\\K" + std::to_string(k);
        // Odd threads group two writes into one transaction.
        LONG rc = RegistryTransaction([&] {
          LONG first = RegSetValueA(HKEY_CLASSES_ROOT, path.c_str(), REG_SZ, "a", 0);
          return first != ERROR_SUCCESS || t % 2 == 0
                     ? first
                     : RegSetValueA(HKEY_CLASSES_ROOT, (path + "\\Sub").c_str(), REG_SZ, "b", 0);
        });
        failures[t] += rc != ERROR_SUCCESS;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], 0);
    for (int k = 0; k < kKeys; ++k) {
      std::string path = "T" + std::to_string(t) + "\\K" + std::to_string(k) + (t % 2 ? "\\Sub" : "");
      HKEY key;
      ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << path;
      RegCloseKey(key);
    }
  }
}

}  // namespace
