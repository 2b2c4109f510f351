// The driver and the install run against the scripted platform: what is copied, launched, paused
// and asked, in which order, and what the record and the entry hold.
#include "install/package_records.h"
#include "platform/shell/process.h"
#include "tests/install/scripted_platform.h"

namespace {

using Events = std::vector<std::string>;

constexpr char kProgress[] = "Please wait while setup copies files to the installation folders!";
constexpr char kInstallBox[] = "box Warning: Please close all IE browser windows before any setup. [ok]";

class InstallRun : public InstallerTest {
 protected:
  void Package(const std::string& setup, const std::vector<std::string>& files) {
    WriteFile(pkg() + "setup.inf", setup);
    for (const std::string& file : files) WriteFile(pkg() + file, "contents of " + file);
  }
  // The entry's values as "name=type:data" (a REG_SZ shown without its terminating zero, which
  // is checked to be there).
  std::vector<std::string> Entry(const std::string& key) {
    std::vector<std::string> values;
    for (const auto& [name, value] : platform().registry[key]) {
      std::string data = value.data;
      if (value.type == REG_SZ) {
        EXPECT_TRUE(!data.empty() && data.back() == '\0') << name;
        data = platform().Short(data.substr(0, data.size() - 1));
      } else if (value.type == REG_DWORD) {
        EXPECT_EQ(data.size(), 4u);
        data = std::to_string(static_cast<unsigned char>(data[0]));
      }
      values.push_back(name + "=" + std::to_string(value.type) + ":" + data);
    }
    return values;
  }
};

TEST_F(InstallRun, OwnedControlIsUnregisteredPausedCopiedAndRegistered) {
  Package("[InstallInfo]\r\nAppFullName=Halvorn Viewer\r\n\r\n[Install Files]\r\nMedia.ocx,e,{C},1.2.3,true\r\n",
          {"Media.ocx"});
  EXPECT_EQ(Run({"setup.inf", "Viewer", "ignored", "too"}), 0);
  EXPECT_EQ(platform().consoleHidden, 1);
  EXPECT_EQ(platform().output, kProgress);
  EXPECT_EQ(platform().events, (Events{
                                   "copy PKG/install SYS/Install.exe",
                                   "launch  /C \"regsvr32 /u /s SYS/Media.ocx\"",
                                   "sleep 1000",
                                   "copy PKG/Media.ocx SYS/Media.ocx",
                                   "launch  /C \"regsvr32 /s SYS/Media.ocx\"",
                               }));
  EXPECT_EQ(Entry("Halvorn Viewer"), (Events{
                                         "DisplayIcon=1:SYS/media.ocx",
                                         "DisplayName=1:Halvorn Viewer",
                                         "DisplayVersion=1:1.2.3",
                                         "NoModify=4:1",
                                         "UninstallString=1:SYS/install.exe uninstall_Viewer.inf",
                                     }));
  EXPECT_EQ(ReadFile(sys() + "uninstall_Viewer.inf"),
            "[InstallInfo]\r\nSaveFolder=\"" + sys() +
                "\"\r\nAppFullName=Halvorn Viewer\r\n\r\n[Install Files]\r\nMedia.ocx,e,{C},1.2.3,true\r\n");
  EXPECT_EQ(ReadFile(sys() + "Install.exe"), "the installer program");
  EXPECT_EQ(ReadFile(sys() + "Media.ocx"), "contents of Media.ocx");
  EXPECT_EQ(platform().errors, "");
}

TEST_F(InstallRun, EveryKindOfEntry) {
  Package("[InstallInfo]\nAppFullName=Viewer\n[Install Files]\n"
          "first.ocx,e,c,1.0,true\n"      // in use: warned about and skipped
          "Second.OCX,e,c,2.0\n"          // not owned: no in-use test, no unregistering
          "filter.ax,e,c,v,true\n"         // owned, not installed yet: unregistered all the same
          "lib.dll,e,c,v,true\n"           // copied, never registered
          "pkg.inf\npkg.ini\n"          // copied
          "readme.txt\n"                // other: nothing
          "missing.ocx,e,c,3.0\n"         // no source: not registered, still sets the version
          "gone.ax,e,c,v,true\n"           // owned, no source: the installed copy stays registered
          "../evil.dll\nsub\\x.ocx\nc:x.ini\n"  // would leave the system directory
          "first.ocx,e,c,9.9,true\n",     // in use again: skipped again, version stays
          {"first.ocx", "Second.OCX", "filter.ax", "lib.dll", "pkg.inf", "pkg.ini", "readme.txt"});
  WriteFile(sys() + "first.ocx", "old");
  WriteFile(sys() + "gone.ax", "installed by another package");
  platform().inUse.insert(sys() + "first.ocx");
  EXPECT_EQ(Run({"setup.inf", "Viewer"}), 0);
  EXPECT_EQ(platform().events, (Events{
                                   "copy PKG/install SYS/Install.exe",
                                   kInstallBox,
                                   "copy PKG/Second.OCX SYS/Second.OCX",
                                   "launch  /C \"regsvr32 /s SYS/Second.OCX\"",
                                   "launch  /C \"regsvr32 /u /s SYS/filter.ax\"",
                                   "sleep 1000",
                                   "copy PKG/filter.ax SYS/filter.ax",
                                   "launch  /C \"regsvr32 /s SYS/filter.ax\"",
                                   "copy PKG/lib.dll SYS/lib.dll",
                                   "copy PKG/pkg.inf SYS/pkg.inf",
                                   "copy PKG/pkg.ini SYS/pkg.ini",
                                   "copy PKG/missing.ocx SYS/missing.ocx failed",
                                   kInstallBox,
                               }));
  EXPECT_EQ(ReadFile(sys() + "first.ocx"), "old");
  EXPECT_EQ(ReadFile(sys() + "gone.ax"), "installed by another package");
  EXPECT_NE(platform().errors.find("gone.ax is not in the package"), std::string::npos) << platform().errors;
  EXPECT_FALSE(Exists(sys() + "readme.txt"));
  EXPECT_FALSE(Exists(sys() + "../evil.dll"));
  auto& entry = platform().registry["Viewer"];
  EXPECT_EQ(entry["DisplayVersion"].data, std::string("3.0", 4));
  EXPECT_EQ(entry["DisplayIcon"].data, sys() + "first.ocxsecond.ocxmissing.ocxfirst.ocx" + '\0');
  for (const char* refused : {"../evil.dll", "sub\\x.ocx", "c:x.ini"})
    EXPECT_NE(platform().errors.find(std::string("skipped \"") + refused + "\""), std::string::npos) << refused;
}

TEST_F(InstallRun, OlderPackageFileReplacesNewerInstalledOne) {
  Package("[Install Files]\na.dll\n", {"a.dll"});
  WriteFile(sys() + "a.dll", "newer");
  EXPECT_EQ(Run({"setup.inf", "P"}), 0);
  EXPECT_EQ(ReadFile(sys() + "a.dll"), "contents of a.dll");
}

TEST_F(InstallRun, PackageWithoutControlGetsEmptyVersionAndBareIcon) {
  Package("[InstallInfo]\nAppFullName=Filter Only\n[Install Files]\npelistra.ax,e,c,5.0,true\n", {"pelistra.ax"});
  EXPECT_EQ(Run({"setup.inf", "F"}), 0);
  EXPECT_EQ(Entry("Filter Only"), (Events{
                                      "DisplayIcon=1:SYS/",
                                      "DisplayName=1:Filter Only",
                                      "DisplayVersion=1:",
                                      "NoModify=4:1",
                                      "UninstallString=1:SYS/install.exe uninstall_F.inf",
                                  }));
}

TEST_F(InstallRun, WithoutAppFullNameNoEntryIsWritten) {
  Package("[Install Files]\na.ocx\n", {"a.ocx"});
  EXPECT_EQ(Run({"setup.inf", "P"}), 0);
  EXPECT_TRUE(platform().registry.empty());
  EXPECT_NE(platform().errors.find("no AppFullName"), std::string::npos);
  EXPECT_TRUE(Exists(sys() + "a.ocx"));
}

TEST_F(InstallRun, MissingSetupFileChangesNothing) {
  WriteFile(sys() + "uninstall_Viewer.inf", "[InstallInfo]\r\nAppFullName=Viewer\r\n");
  EXPECT_EQ(Run({"setup.inf", "Viewer"}), 2);
  EXPECT_EQ(platform().events, Events{});
  EXPECT_EQ(ReadFile(sys() + "uninstall_Viewer.inf"), "[InstallInfo]\r\nAppFullName=Viewer\r\n");
  EXPECT_FALSE(Exists(sys() + "Install.exe"));
  EXPECT_TRUE(platform().registry.empty());
  EXPECT_NE(platform().errors.find("cannot open " + pkg() + "setup.inf"), std::string::npos);
}

TEST_F(InstallRun, RecordThatCannotBeCreatedEndsTheRun) {
  Package("[InstallInfo]\nAppFullName=Viewer\n[Install Files]\na.ocx\n", {"a.ocx"});
  std::filesystem::create_directory(sys() + "uninstall_Viewer.inf");
  EXPECT_EQ(Run({"setup.inf", "Viewer"}), 2);
  EXPECT_EQ(platform().events, Events{"copy PKG/install SYS/Install.exe"});
  EXPECT_TRUE(platform().registry.empty());
  EXPECT_FALSE(Exists(sys() + "a.ocx"));
}

TEST_F(InstallRun, ArgumentsChooseTheRun) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(platform().consoleHidden, 1);
  EXPECT_TRUE(platform().events.empty());
  EXPECT_EQ(platform().output, "");

  EXPECT_EQ(Run({"setup.inf"}), 1);  // no package name
  EXPECT_EQ(Run({"setup.inf", ""}), 1);
  EXPECT_NE(platform().errors.find("usage:"), std::string::npos);
  EXPECT_TRUE(platform().events.empty());
  EXPECT_EQ(platform().output, "");
  EXPECT_FALSE(Exists(sys() + "Install.exe"));

  // Any other spelling is a record name: an uninstall run that finds no record beside the program.
  Package("[Install Files]\na.dll\n", {"a.dll"});
  EXPECT_EQ(Run({"Setup.inf", "Viewer"}), 2);
  EXPECT_EQ(platform().output, "Please wait while delete files from the installation folders!");
  EXPECT_NE(platform().errors.find("cannot open the uninstall record " + pkg() + "Setup.inf"), std::string::npos);
  EXPECT_TRUE(platform().events.empty());
}

// Text that does not fit its limit is refused before anything changes.
TEST_F(InstallRun, OverlongTextIsRefusedBeforeAnythingChanges) {
  const std::string longName = std::string(256, 'n') + ".dll";
  struct Case {
    const char* what;
    std::string package;
    std::string setup;
  } cases[] = {
      {"package name of 32", std::string(32, 'p'), "[Install Files]\na.dll\n"},
      {"package name with a path", "../p", "[Install Files]\na.dll\n"},
      {"file name of 260", "P", "[Install Files]\n" + longName + "\n"},
      {"Extra of 512", "P", "[Install Files]\na.dll," + std::string(512, 'e') + "\n"},
      {"version of 32", "P", "[Install Files]\na.dll,e,c," + std::string(32, 'v') + "\n"},
      {"control version of 25", "P", "[Install Files]\na.ocx,e,c," + std::string(25, 'v') + "\n"},
      {"AppFullName of 128", "P", "[InstallInfo]\nAppFullName=" + std::string(128, 'a') + "\n"},
      {"SaveFolder of 128", "P", "[InstallInfo]\nSaveFolder=" + std::string(128, 's') + "\n"},
      {"unknown key of 128", "P", "[InstallInfo]\n" + std::string(128, 'k') + "=1\n"},
      {"control names together over 127", "P",
       "[Install Files]\n" + std::string(60, 'a') + ".ocx\n" + std::string(60, 'b') + ".ocx\n"},
      {"registration command over 255", "P", "[Install Files]\n" + std::string(240, 'c') + ".ax\n"},
  };
  for (const Case& c : cases) {
    WriteFile(pkg() + "setup.inf", c.setup);
    platform().events.clear();
    platform().errors.clear();
    EXPECT_EQ(Run({"setup.inf", c.package}), 3) << c.what;
    EXPECT_TRUE(platform().events.empty()) << c.what;
    EXPECT_NE(platform().errors.find("nothing was installed"), std::string::npos) << c.what;
    EXPECT_TRUE(std::filesystem::is_empty(sys())) << c.what;
  }
  // At the limits, the run goes on.
  WriteFile(pkg() + "setup.inf", "[InstallInfo]\nAppFullName=" + std::string(127, 'a') + "\n[Install Files]\na.ocx,e,c," +
                                     std::string(24, 'v') + "\n");
  EXPECT_EQ(Run({"setup.inf", std::string(31, 'p')}), 0);
}

// The uninstall run reads what the install run wrote.
TEST_F(InstallRun, RecordLeadsTheUninstallRunToTheInstalledFiles) {
  Package("[InstallInfo]\nAppFullName=Viewer\n[Install Files]\nmedia.ocx,e,c,1.0,true\nkeep.ocx\nviewer.ini\n",
          {"media.ocx", "keep.ocx", "viewer.ini"});
  ASSERT_EQ(Run({"setup.inf", "Viewer"}), 0);
  platform().events.clear();
  platform().modulePath = sys() + "Install.exe";  // as the entry's command starts it
  EXPECT_EQ(Run({"uninstall_Viewer.inf"}), 0);
  EXPECT_EQ(platform().events, (Events{
                                   "launch  /C \"regsvr32 /u /s SYS/media.ocx\"",
                                   "sleep 1000",
                                   "delete SYS/media.ocx",
                                   "delete SYS/viewer.ini",
                                   "delete SYS/uninstall_Viewer.inf",
                                   "regdelete Viewer",
                               }));
  EXPECT_TRUE(platform().registry.empty());
  EXPECT_TRUE(Exists(sys() + "keep.ocx"));
  EXPECT_TRUE(Exists(sys() + "Install.exe"));
  EXPECT_EQ(platform().errors, "");
}


// Whatever its line ends, a setup.inf installs the same package.
TEST_F(InstallRun, EveryLineEndReadsAlike) {
  for (const char* end : {"\n", "\r\n", "\r"}) {
    Reset();
    std::string setup = "[InstallInfo]" + std::string(end) + "AppFullName=Viewer" + end + end + "[Install Files]" +
                        end + "a.ocx,e,c,2.0,true" + end + "a.ini" + end;
    Package(setup, {"a.ocx", "a.ini"});
    EXPECT_EQ(Run({"setup.inf", "Viewer"}), 0) << platform().errors;
    EXPECT_TRUE(Exists(sys() + "a.ocx")) << "line end " << static_cast<int>(end[0]);
    EXPECT_TRUE(Exists(sys() + "a.ini")) << "line end " << static_cast<int>(end[0]);
    EXPECT_EQ(Entry("Viewer"), (std::vector<std::string>{
                                   "DisplayIcon=1:SYS/a.ocx",
                                   "DisplayName=1:Viewer",
                                   "DisplayVersion=1:2.0",
                                   "NoModify=4:1",
                                   "UninstallString=1:SYS/install.exe uninstall_Viewer.inf",
                               }))
        << "line end " << static_cast<int>(end[0]);
  }
}

// The uninstall command splits back into the program and the record's name, whatever the name.
TEST(UninstallCommand, QuotesANameThatWouldNotStayOneWord) {
  struct Case {
    const char* record;
    const char* command;
  } cases[] = {
      {"uninstall_Viewer.inf", "/s/install.exe uninstall_Viewer.inf"},
      {"uninstall_a b.inf", "/s/install.exe \"uninstall_a b.inf\""},
      {"uninstall_a\tb.inf", "/s/install.exe \"uninstall_a\tb.inf\""},
      {"uninstall_say \"hi\".inf", "/s/install.exe \"uninstall_say \\\"hi\\\".inf\""},
  };
  for (const Case& c : cases) {
    std::string command = UninstallCommand("/s/", c.record);
    EXPECT_EQ(command, c.command);
    EXPECT_EQ(SplitCommandLine(command), (std::vector<std::string>{"/s/install.exe", c.record})) << c.record;
  }
}


// Names that belong to another installed package refuse the setup before anything changes.
TEST_F(InstallRun, NamesOfAnotherPackageAreRefused) {
  struct Case {
    const char* what;
    std::string setup;
    const char* message;
  } cases[] = {
      {"a file named like a record", "[InstallInfo]\nAppFullName=Mine\n[Install Files]\nuninstall_Other.inf\n",
       "has the name of an uninstall record"},
      {"the same in other letters", "[InstallInfo]\nAppFullName=Mine\n[Install Files]\nUNINSTALL_other.INF\n",
       "has the name of an uninstall record"},
      {"another package's entry", "[InstallInfo]\nAppFullName=Other App\n[Install Files]\na.ini\n",
       "AppFullName \"Other App\" is the entry of another package (SYS/install.exe uninstall_Other.inf)"},
  };
  for (const Case& c : cases) {
    Reset();
    Package(c.setup, {"a.ini", "uninstall_Other.inf", "UNINSTALL_other.INF"});
    std::string command = sys() + "install.exe uninstall_Other.inf";
    platform().registry["Other App"]["UninstallString"] = {REG_SZ, std::string(command.c_str(), command.size() + 1)};
    EXPECT_EQ(Run({"setup.inf", "Mine"}), 3) << c.what;
    EXPECT_NE(platform().Short(platform().errors).find(c.message), std::string::npos) << c.what << ": "
                                                                                       << platform().errors;
    EXPECT_EQ(platform().events, Events{}) << c.what;
    EXPECT_FALSE(Exists(sys() + "uninstall_Mine.inf")) << c.what;
    EXPECT_EQ(platform().registry.size(), 1u) << c.what;
  }
  // The package's own entry is its to rewrite.
  Reset();
  Package("[InstallInfo]\nAppFullName=Other App\n[Install Files]\na.ini\n", {"a.ini"});
  std::string command = sys() + "install.exe uninstall_Other.inf";
  platform().registry["Other App"]["UninstallString"] = {REG_SZ, std::string(command.c_str(), command.size() + 1)};
  EXPECT_EQ(Run({"setup.inf", "Other"}), 0) << platform().errors;
  EXPECT_TRUE(Exists(sys() + "a.ini"));
}

}  // namespace
