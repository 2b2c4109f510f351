// Registrations of the filter module by many regsvr32 processes at once: every call succeeds and
// applies whole, so the registry is always either fully registered (class key, server path and
// mapper record) or clean, and the database stays sound.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/dshow/filter_mapper.h"
#include "platform/registry/registry.h"
#include "platform/shell/machine_root.h"
#include "platform/win/guid.h"
#include "tests/registry/temp_machine_root.h"

namespace {

constexpr CLSID kMuxerClass = MakeGuid("E007F9AB-C9B8-403D-91BA-B1E50AA0F55A");
constexpr char kServerKey[] = "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}\\InprocServer32";

enum class Registration { Clean, Full, Partial };

std::string Bin(const std::string& name) { return std::string(PELISTRA_BIN_DIR "/") + name; }

pid_t StartRegsvr32(bool unregister) {
  std::string program = Bin("regsvr32"), module = Bin("pelistra.ax");
  pid_t pid = fork();
  if (pid == 0) {
    if (unregister)
      execl(program.c_str(), "regsvr32", "/u", "/s", module.c_str(), nullptr);
    else
      execl(program.c_str(), "regsvr32", "/s", module.c_str(), nullptr);
    _exit(127);
  }
  return pid;
}

int Finish(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Read in one transaction, so no registration is seen half way.
Registration Current() {
  Registration state = Registration::Partial;
  LONG rc = RegistryTransaction([&] {
    char path[4096];
    LONG size = sizeof path;
    bool server = RegQueryValueA(HKEY_CLASSES_ROOT, kServerKey, path, &size) == ERROR_SUCCESS &&
                  std::string(path) == Bin("pelistra.ax");
    HKEY classKey = nullptr;
    bool classKeyThere =
        RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}", 0, KEY_READ, &classKey) ==
        ERROR_SUCCESS;
    if (classKeyThere) RegCloseKey(classKey);
    MapperFilter filter;
    bool mapper = ReadFilterRegistration(kMuxerClass, &filter) == S_OK;
    if (server && mapper) state = Registration::Full;
    else if (!classKeyThere && !mapper) state = Registration::Clean;
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  EXPECT_EQ(rc, ERROR_SUCCESS);
  return state;
}

std::string IntegrityCheck() {
  RegistryCloseDatabase();
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(RegistryDatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
  }
  sqlite3_close_v2(db);
  return result;
}

class ConcurrentRegistration : public TempMachineRoot {
 protected:
  void SetUp() override {
    TempMachineRoot::SetUp();
    ASSERT_EQ(EnsureMachineRoot(), S_OK);
  }
};

TEST_F(ConcurrentRegistration, SixteenLoopsOfRegisterAndUnregister) {
  constexpr int kLoops = 16;
  constexpr auto kDuration = std::chrono::seconds(20);
  std::vector<pid_t> loops;
  for (int i = 0; i < kLoops; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      // Exit status: the number of calls that did not exit 0 (at most 100), or 101 when none ran.
      int failed = 0, calls = 0;
      for (auto end = std::chrono::steady_clock::now() + kDuration; std::chrono::steady_clock::now() < end;) {
        failed += Finish(StartRegsvr32(false)) != 0;
        failed += Finish(StartRegsvr32(true)) != 0;
        calls += 2;
      }
      _exit(calls == 0 ? 101 : std::min(failed, 100));
    }
    ASSERT_GT(pid, 0);
    loops.push_back(pid);
  }
  // Watch the registry while they run: never half a registration.
  int looks = 0, partial = 0;
  for (size_t ended = 0; ended < loops.size();) {
    partial += Current() == Registration::Partial;
    ++looks;
    usleep(10000);  // leaves the registry to the loops most of the time
    ended = 0;
    for (pid_t& pid : loops) {
      int status = 0;
      if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "a loop saw " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << " failed calls";
        pid = -1;
      }
      ended += pid < 0;
    }
  }
  EXPECT_EQ(partial, 0) << "of " << looks << " looks";
  EXPECT_EQ(Current(), Registration::Clean);  // every loop ended with an unregistration
  EXPECT_EQ(IntegrityCheck(), "ok");
}

TEST_F(ConcurrentRegistration, RegisterAndUnregisterStartedTogether) {
  for (int round = 0; round < 60; ++round) {
    pid_t registering = StartRegsvr32(false);
    pid_t unregistering = StartRegsvr32(true);
    EXPECT_EQ(Finish(registering), 0) << "round " << round;
    EXPECT_EQ(Finish(unregistering), 0) << "round " << round;
    Registration state = Current();
    EXPECT_NE(state, Registration::Partial) << "round " << round;
  }
  EXPECT_EQ(IntegrityCheck(), "ok");
}

}  // namespace
