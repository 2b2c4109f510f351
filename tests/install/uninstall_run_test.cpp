// The uninstall run against the scripted platform: the browser warning and its answers, what is
// unregistered and deleted, and the record and entry removed.
#include "tests/install/scripted_platform.h"

namespace {

using Events = std::vector<std::string>;

constexpr char kBox[] =
    "box Warning: Please close all IE browser windows,\nbefore uninstall Halvorn Media Control "
    "[abort-retry-ignore warning-icon]";

class UninstallRun : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    platform().modulePath = sys() + "Install.exe";
    platform().registry["Viewer"]["DisplayName"] = {REG_SZ, std::string("Viewer", 7)};
    std::string command = sys() + "install.exe uninstall_Viewer.inf";
    platform().registry["Viewer"]["UninstallString"] = {REG_SZ, std::string(command.c_str(), command.size() + 1)};
  }
  // A record in the system directory, and the files it lists.
  void Record(const std::string& files, const std::string& info = "AppFullName=Viewer\n") {
    WriteFile(sys() + "uninstall_Viewer.inf", "[InstallInfo]\r\nSaveFolder=\"" + sys() + "\"\r\n" + info +
                                                  "\r\n[Install Files]\r\n" + files);
    for (const char* file : {"control.ocx", "other.ocx", "filter.ax", "lib.dll", "a.inf", "a.ini", "readme.txt"})
      WriteFile(sys() + file, "x");
  }
  int Uninstall() { return Run({"uninstall_Viewer.inf"}); }
  bool RemovedAll() {
    return !Exists(sys() + "uninstall_Viewer.inf") && platform().registry.empty() && !Exists(sys() + "control.ocx");
  }
  bool RemovedNothing() {
    return Exists(sys() + "uninstall_Viewer.inf") && !platform().registry.empty() && Exists(sys() + "control.ocx") &&
           platform().EventsWithout("box").empty();
  }
};

TEST_F(UninstallRun, RemovesOwnedComponentsInfIniRecordAndEntry) {
  Record("control.ocx,e,c,1.0,true\nother.ocx,e,c,1.0\nfilter.ax,e,c,v,TRUE\nlib.dll,e,c,v,true\na.inf\na.ini\nreadme.txt\n");
  EXPECT_EQ(Uninstall(), 0);
  EXPECT_EQ(platform().output, "Please wait while delete files from the installation folders!");
  EXPECT_EQ(platform().events, (Events{
                                   "launch  /C \"regsvr32 /u /s SYS/control.ocx\"",
                                   "sleep 1000",
                                   "delete SYS/control.ocx",
                                   "launch  /C \"regsvr32 /u /s SYS/filter.ax\"",
                                   "sleep 1000",
                                   "delete SYS/filter.ax",
                                   "launch  /C \"regsvr32 /u /s SYS/lib.dll\"",
                                   "sleep 1000",
                                   "delete SYS/lib.dll",
                                   "delete SYS/a.inf",
                                   "delete SYS/a.ini",
                                   "delete SYS/uninstall_Viewer.inf",
                                   "regdelete Viewer",
                               }));
  for (const char* kept : {"other.ocx", "readme.txt"}) EXPECT_TRUE(Exists(sys() + kept)) << kept;
  for (const char* gone : {"control.ocx", "filter.ax", "lib.dll", "a.inf", "a.ini", "uninstall_Viewer.inf"})
    EXPECT_FALSE(Exists(sys() + gone)) << gone;
  EXPECT_EQ(platform().errors, "");
}

TEST_F(UninstallRun, BrowserWarning) {
  struct Case {
    const char* what;
    bool browser;
    bool inUse;
    std::vector<int> answers;
    size_t boxes;
    bool removed;
    int exit;
  } cases[] = {
      {"no browser window", false, true, {}, 0, true, 0},
      {"first file free", true, false, {}, 0, true, 0},
      {"abort", true, true, {IDABORT}, 1, false, 0},
      {"ignore", true, true, {IDIGNORE}, 1, true, 0},
      {"retry, then abort", true, true, {IDRETRY, IDABORT}, 2, false, 0},
      {"retry, then ignore", true, true, {IDRETRY, IDRETRY, IDIGNORE}, 3, true, 0},
      {"the sixth retry goes on", true, true, {IDRETRY, IDRETRY, IDRETRY, IDRETRY, IDRETRY, IDRETRY, IDABORT}, 6,
       true, 0},
      {"a box that cannot be shown", true, true, {0}, 1, false, 4},
      {"an answer the box does not have", true, true, {IDOK}, 1, false, 4},
  };
  for (const Case& c : cases) {
    Reset();
    Record("control.ocx,e,c,1.0,true\n");
    platform().browserOpen = c.browser;
    if (c.inUse) platform().inUse.insert(sys() + "control.ocx");
    platform().answers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(Uninstall(), c.exit) << c.what;
    Events boxes;
    for (const std::string& event : platform().events)
      if (event.rfind("box ", 0) == 0) boxes.push_back(event);
    EXPECT_EQ(boxes, Events(c.boxes, kBox)) << c.what;
    EXPECT_EQ(c.removed ? RemovedAll() : RemovedNothing(), true) << c.what;
    EXPECT_EQ(platform().errors.find("could not be answered") != std::string::npos, c.exit == 4) << c.what;
  }
}

TEST_F(UninstallRun, InUseTestLooksAtTheFirstEntryWhateverItsKind) {
  Record("a.inf\ncontrol.ocx,e,c,1.0,true\n");
  platform().browserOpen = true;
  platform().inUse.insert(sys() + "control.ocx");  // not the first entry: no warning
  EXPECT_EQ(Uninstall(), 0);
  EXPECT_TRUE(RemovedAll());

  Reset();
  Record("a.inf\ncontrol.ocx,e,c,1.0,true\n");
  platform().browserOpen = true;
  platform().inUse.insert(sys() + "a.inf");
  platform().answers = {IDABORT};
  EXPECT_EQ(Uninstall(), 0);
  EXPECT_TRUE(RemovedNothing());
}

TEST_F(UninstallRun, TargetsAreAlwaysInTheSystemDirectory) {
  // No SaveFolder: the system directory.
  WriteFile(sys() + "uninstall_Viewer.inf", "[InstallInfo]\nAppFullName=Viewer\n[Install Files]\na.ini\n");
  WriteFile(sys() + "a.ini", "x");
  EXPECT_EQ(Uninstall(), 0);
  EXPECT_FALSE(Exists(sys() + "a.ini"));
  EXPECT_EQ(platform().errors, "");

  // A SaveFolder elsewhere (copied from setup.inf after the generated one) is not followed.
  Reset();
  Record("a.ini\n", "SaveFolder=\"" + pkg() + "\"\nAppFullName=Viewer\n");
  WriteFile(pkg() + "a.ini", "keep");
  EXPECT_EQ(Uninstall(), 0);
  EXPECT_TRUE(Exists(pkg() + "a.ini"));
  EXPECT_FALSE(Exists(sys() + "a.ini"));
  EXPECT_NE(platform().errors.find("is not the system directory"), std::string::npos);
}

TEST_F(UninstallRun, NamesWithPathsAreSkipped) {
  Record("../package/victim.ini\nsub\\x.dll,e,c,v,true\nd:x.inf\na.ini\n");
  WriteFile(pkg() + "victim.ini", "keep");
  EXPECT_EQ(Uninstall(), 0);
  EXPECT_TRUE(Exists(pkg() + "victim.ini"));
  EXPECT_EQ(platform().EventsWithout("delete SYS/uninstall").size(), 2u);  // a.ini and the entry
  EXPECT_FALSE(Exists(sys() + "a.ini"));
}

TEST_F(UninstallRun, WithoutAppFullNameNoKeyIsDeleted) {
  Record("a.ini\n", "");
  EXPECT_EQ(Uninstall(), 0);
  EXPECT_EQ(platform().EventsWithout("delete"), Events{});
  EXPECT_NE(platform().errors.find("no AppFullName"), std::string::npos);
  EXPECT_FALSE(Exists(sys() + "uninstall_Viewer.inf"));
}

TEST_F(UninstallRun, RecordNameIsCheckedAndMustExist) {
  EXPECT_EQ(Uninstall(), 2);  // no record
  EXPECT_TRUE(platform().events.empty());
  for (const std::string& name : std::vector<std::string>{"../package/install", "sub/x.inf", std::string(128, 'r')}) {
    EXPECT_EQ(Run({name}), 3) << name;
    EXPECT_TRUE(platform().events.empty()) << name;
  }
  Record("a.ini\n", "AppFullName=" + std::string(128, 'a') + "\n");
  EXPECT_EQ(Uninstall(), 3);
  EXPECT_TRUE(RemovedNothing());
}


// What belongs to another installed package stays: a file its record lists (with its
// registration), its record, and its entry.
TEST_F(UninstallRun, LeavesWhatAnotherPackageHas) {
  auto otherCommand = [&](const std::string& record) {
    std::string command = sys() + "install.exe " + record;
    return RegistryValue{REG_SZ, std::string(command.c_str(), command.size() + 1)};
  };
  struct Case {
    const char* what;
    std::string files;   // Viewer's record
    std::string other;   // the other package's record, "" for none
    std::string info;    // Viewer's [InstallInfo] lines
    Events kept;         // files still in the system directory
    const char* message;
    bool entryKept;
  } cases[] = {
      {"a control both list", "control.ocx,e,c,1.0,true\na.ini\n", "[Install Files]\r\nCONTROL.OCX,e,c,1.0\r\n",
       "AppFullName=Viewer\n", {"control.ocx"}, "kept control.ocx: the package of uninstall_Other.inf uses it too",
       false},
      {"an ini file both list", "a.ini\n", "[Install Files]\r\na.ini\r\n", "AppFullName=Viewer\n", {"a.ini"},
       "kept a.ini", false},
      {"the other's record as a file", "uninstall_Other.inf\n", "[Install Files]\r\nfilter.ax\r\n",
       "AppFullName=Viewer\n", {"uninstall_Other.inf"}, "has the name of an uninstall record", false},
      {"an entry whose command names another record", "a.ini\n", "", "AppFullName=Shared\n", {},
       "the entry \"Shared\" belongs to another package", true},
      {"a key inside another entry", "a.ini\n", "", "AppFullName=Viewer\\Sub\n", {}, "holds a \"\\\"", true},
  };
  for (const Case& c : cases) {
    Reset();
    Record(c.files, c.info);
    if (!c.other.empty()) WriteFile(sys() + "uninstall_Other.inf", c.other);
    platform().registry["Shared"]["UninstallString"] = otherCommand("uninstall_Other.inf");
    EXPECT_EQ(Uninstall(), 0) << c.what;
    EXPECT_NE(platform().errors.find(c.message), std::string::npos) << c.what << ": " << platform().errors;
    for (const std::string& file : c.kept) EXPECT_TRUE(Exists(sys() + file)) << c.what << ": " << file;
    for (const std::string& event : platform().events)
      for (const std::string& file : c.kept) EXPECT_EQ(event.find(file), std::string::npos) << c.what << ": " << event;
    EXPECT_FALSE(Exists(sys() + "uninstall_Viewer.inf")) << c.what;
    EXPECT_EQ(platform().registry.count("Shared"), 1u) << c.what;
    EXPECT_EQ(platform().registry.count("Viewer"), c.entryKept ? 1u : 0u) << c.what;
  }
}


// An entry written before record names were quoted still counts as the package's own.
TEST_F(UninstallRun, EntryWithAnUnquotedNameIsThePackagesOwn) {
  WriteFile(sys() + "uninstall_a b.inf", "[InstallInfo]\r\nAppFullName=Spaced\r\n\r\n[Install Files]\r\na.ini\r\n");
  WriteFile(sys() + "a.ini", "x");
  std::string command = sys() + "install.exe uninstall_a b.inf";
  platform().registry["Spaced"]["UninstallString"] = {REG_SZ, std::string(command.c_str(), command.size() + 1)};
  EXPECT_EQ(Run({"uninstall_a b.inf"}), 0) << platform().errors;
  EXPECT_EQ(platform().registry.count("Spaced"), 0u);
  EXPECT_FALSE(Exists(sys() + "a.ini"));
}

}  // namespace
