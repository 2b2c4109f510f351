// regsvr32 as a user runs it, in separate processes: exit codes, messages, and what it leaves in
// the registry; eight registrations at once.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "platform/dshow/filter_mapper.h"
#include "platform/registry/registry.h"
#include "platform/win/guid.h"
#include "tests/com/module_fixture.h"
#include "tests/com/test_module.h"

namespace {

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class Regsvr32 : public ModuleTest {
 protected:
  // Starts regsvr32 with the arguments (and one extra environment variable, if named); the
  // output goes to files named after `tag`.
  pid_t Start(const std::vector<std::string>& args, const std::string& tag, const char* extraVariable = nullptr) {
    std::string program = BinDirectory() + "regsvr32";
    std::string out = root() + "/" + tag + ".out", err = root() + "/" + tag + ".err";
    pid_t pid = fork();
    if (pid == 0) {
      if (extraVariable) setenv(extraVariable, "1", 1);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }
  Outcome Finish(pid_t pid, const std::string& tag) {
    Outcome outcome;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    outcome.out = Read(root() + "/" + tag + ".out");
    outcome.err = Read(root() + "/" + tag + ".err");
    return outcome;
  }
  Outcome Run(const std::vector<std::string>& args, const char* extraVariable = nullptr) {
    return Finish(Start(args, "run", extraVariable), "run");
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static std::string ServerPath(int index) {
    std::string key = "CLSID\\" + GuidToString(TestModuleClass(index)) + "\\InprocServer32";
    char path[4096];
    LONG size = sizeof path;
    return RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), path, &size) == ERROR_SUCCESS ? path : "";
  }
};

TEST_F(Regsvr32, RegistersAndUnregistersAModule) {
  Outcome registered = Run({ModulePath(0)});
  EXPECT_EQ(registered.exitCode, 0) << registered.err;
  EXPECT_NE(registered.out.find("DllRegisterServer in " + ModulePath(0) + " succeeded"), std::string::npos);
  EXPECT_EQ(ServerPath(0), ModulePath(0));
  MapperFilter filter;
  ASSERT_EQ(ReadFilterRegistration(TestModuleClass(0), &filter), S_OK);
  EXPECT_EQ(filter.name, "Pelistra Test Module");
  // The module was attached and detached in that process.
  EXPECT_EQ(DllMainLog(), "attach 0\ndetach 0\n");

  // Unregistering twice: the second finds nothing and succeeds all the same.
  for (int round = 0; round < 2; ++round) {
    Outcome unregistered = Run({"/u", "/s", ModulePath(0)});
    EXPECT_EQ(unregistered.exitCode, 0) << unregistered.err;
    EXPECT_EQ(unregistered.out + unregistered.err, "");
  }
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(TestModuleClass(0))).c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadFilterRegistration(TestModuleClass(0), &filter), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(Regsvr32, FailuresEndWithTheirCodeAndAMessageUnlessSilent) {
  std::string noExports = BinDirectory() + "no_exports_module.ax";
  struct Case {
    std::vector<std::string> args;
    const char* variable;
    int exitCode;
    std::string message;  // empty: no output at all
  } cases[] = {
      {{}, nullptr, 1, "usage: regsvr32"},
      {{"/x", ModulePath(0)}, nullptr, 1, "usage: regsvr32"},
      {{root() + "/missing.ax"}, nullptr, 3, "cannot load module " + root() + "/missing.ax"},
      {{"/s", root() + "/missing.ax"}, nullptr, 3, ""},
      {{noExports}, nullptr, 4, noExports + " has no entry point DllRegisterServer"},
      {{"/u", noExports}, nullptr, 4, "has no entry point DllUnregisterServer"},
      {{ModulePath(0)}, "PELISTRA_TEST_MODULE_FAIL", 5, "DllRegisterServer in " + ModulePath(0) + " failed with error 0x80070005"},
      {{"/S", ModulePath(0)}, "PELISTRA_TEST_MODULE_FAIL", 5, ""},
      {{ModulePath(0)}, "PELISTRA_TEST_MODULE_REFUSE", 3, "cannot load module"},
  };
  for (const Case& c : cases) {
    Outcome outcome = Run(c.args, c.variable);
    std::string context = c.args.empty() ? "(no arguments)" : c.args.front();
    EXPECT_EQ(outcome.exitCode, c.exitCode) << context;
    EXPECT_EQ(outcome.out, "") << context;
    if (c.message.empty())
      EXPECT_EQ(outcome.err, "") << context;
    else
      EXPECT_NE(outcome.err.find(c.message), std::string::npos) << context << ": " << outcome.err;
  }
  EXPECT_EQ(ServerPath(0), "");
}

// The installer starts one registration process per module and does not wait for any.
TEST_F(Regsvr32, EightRegistrationsAtOnceAllLand) {
  std::vector<pid_t> started;
  for (int index = 0; index < 8; ++index)
    started.push_back(Start({"/s", ModulePath(index)}, "module" + std::to_string(index)));
  for (int index = 0; index < 8; ++index) {
    Outcome outcome = Finish(started[index], "module" + std::to_string(index));
    EXPECT_EQ(outcome.exitCode, 0) << index << ": " << outcome.err;
  }
  std::vector<MapperFilter> filters;
  ASSERT_EQ(ListFilterRegistrations(CLSID_LegacyAmFilterCategory, &filters), S_OK);
  EXPECT_EQ(filters.size(), 8u);
  for (int index = 0; index < 8; ++index) {
    EXPECT_EQ(ServerPath(index), ModulePath(index));
    ITestValue* value = nullptr;
    ASSERT_EQ(CoCreateInstance(TestModuleClass(index), nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue,
                               reinterpret_cast<void**>(&value)),
              S_OK);
    EXPECT_EQ(value->Value(), TestModuleValue(index));
    value->Release();
  }
}

}  // namespace
