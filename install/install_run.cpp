#include "install/install_run.h"

#include "install/limits.h"
#include "install/record_writer.h"
#include "install/setup_checks.h"
#include "install/setup_reader.h"
#include "install/text_ops.h"
#include "install/uninstall_entry.h"
#include "platform/shell/desktop.h"
#include "platform/shell/file_operations.h"
#include "platform/shell/process.h"

namespace {

constexpr char kInstallWarning[] = "Please close all IE browser windows before any setup.";

void RefuseSetup(InstallPlatform& platform, const std::string& why) {
  platform.WriteError("install: " + why + "; nothing was installed\n");
}

std::string PathProblem(const RunContext& context, const std::string& packageName, const std::string& setupPath,
                        const std::string& recordPath) {
  if (packageName.size() > kMaxPackageName)
    return "the package name is longer than " + std::to_string(kMaxPackageName) + " characters";
  if (!IsPlainFileName(packageName)) return "the package name \"" + packageName + "\" must not hold a path";
  if (setupPath.size() > kMaxPath) return "the path of setup.inf is too long";
  if ((context.SystemDir + "Install.exe").size() > kMaxSelfCopy) return "the system directory's path is too long";
  // The record names the system directory as its SaveFolder, which is read up to that limit.
  if (context.SystemDir.size() > kMaxInfoText) return "the system directory's path is too long";
  if (recordPath.size() > kMaxPath) return "the record's path is too long";
  return {};
}

}  // namespace

bool IsFileInUse(InstallPlatform& platform, const std::string& path) {
  DWORD attributes = platform.GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return platform.CheckFileWritableA(path.c_str()) != ERROR_SUCCESS;
}

void LaunchHidden(InstallPlatform& platform, const std::string& parameters) {
  platform.ShellExecuteA(nullptr, "open", "cmd.exe", parameters.c_str(), nullptr, SW_HIDE);
}

int RunInstall(InstallPlatform& platform, const RunContext& context, const std::string& packageName) {
  const std::string& SystemDir = context.SystemDir;
  std::string setupPath = context.ModuleDir + context.arguments[1];
  std::string selfCopy = SystemDir + "Install.exe";
  std::string recordName = "uninstall_" + packageName + ".inf";
  std::string recordPath = SystemDir + recordName;

  // Everything that could be refused is checked before anything changes.
  if (std::string problem = PathProblem(context, packageName, setupPath, recordPath); !problem.empty()) {
    RefuseSetup(platform, problem);
    return kExitRefused;
  }

  std::vector<std::string> lines;
  FILE* setup = platform.OpenTextFile(setupPath.c_str(), "r");
  if (setup) {
    lines = ReadLines(setup);
    std::fclose(setup);
  }
  // The record and the content as the run will make them, to check them first.
  std::string recordText;
  SetupReader reader;
  RecordWriter writer(recordName, SystemDir);
  for (const std::string& line : lines)
    if (!writer.Feed(line, recordText)) reader.Feed(line);
  const SetupContent& content = reader.content();
  if (std::string problem = CheckSetupLimits(content, context.ModuleDir, SystemDir); !problem.empty()) {
    RefuseSetup(platform, problem);
    return kExitRefused;
  }

  platform.CopyFileA(context.ModulePath.c_str(), selfCopy.c_str(), FALSE);
  FILE* record = platform.OpenTextFile(recordPath.c_str(), "w");
  if (!setup) {
    if (record) std::fclose(record);
    platform.WriteError("install: cannot open " + setupPath + "\n");
    return kExitNoDescription;
  }
  if (!record) {
    platform.WriteError("install: cannot create the uninstall record " + recordPath + "\n");
    return kExitNoDescription;
  }
  std::fputs(recordText.c_str(), record);
  std::fclose(record);

  std::string IconNames;
  std::string VersionText;
  for (const FileEntry& entry : content.entries) {
    FileKind kind = ClassifyFile(entry.Name);
    if (kind == FileKind::Other) continue;
    if (!IsPlainFileName(entry.Name)) {
      platform.WriteError("install: skipped \"" + entry.Name +
                          "\": a file name in setup.inf must not hold a path\n");
      continue;
    }
    std::string source = context.ModuleDir + entry.Name;
    std::string target = SystemDir + entry.Name;
    if (kind == FileKind::Ocx) {
      std::string lower = entry.Name;
      ToLower(lower);
      IconNames += lower;
    }
    if (kind == FileKind::Dll || kind == FileKind::Inf || kind == FileKind::Ini) {
      platform.CopyFileA(source.c_str(), target.c_str(), FALSE);
      continue;
    }
    if (entry.Owned) {
      if (IsFileInUse(platform, target)) {
        // A box that cannot be shown skips the file just as the answered one does.
        platform.MessageBoxA(platform.GetTopWindow(nullptr), kInstallWarning, "Warning", MB_OK);
        continue;
      }
      LaunchHidden(platform, UnregisterCommand(target));
      platform.Sleep(1000);
    }
    if (platform.CopyFileA(source.c_str(), target.c_str(), FALSE)) LaunchHidden(platform, RegisterCommand(target));
    if (kind == FileKind::Ocx) VersionText = entry.Version;
  }

  WriteUninstallEntry(platform, content.AppFullName, SystemDir, recordName, VersionText, IconNames);
  return kExitDone;
}
