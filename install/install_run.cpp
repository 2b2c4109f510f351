#include "install/install_run.h"

#include "install/description_file.h"
#include "install/limits.h"
#include "install/package_records.h"
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

// Names in the description that belong to other packages: a file named like an uninstall record
// would replace that package's record, and an AppFullName that is another package's entry would
// take that entry over.
std::string ForeignNames(InstallPlatform& platform, const SetupContent& content, const std::string& recordName) {
  for (const FileEntry& entry : content.entries)
    if (IsRecordName(entry.Name) && IsPlainFileName(entry.Name))
      return "the file \"" + entry.Name + "\" has the name of an uninstall record";
  if (IsEntryName(content.AppFullName)) {
    std::string command;
    if (OwnerOfEntry(platform, content.AppFullName, recordName, &command) == EntryOwner::Other)
      return "AppFullName \"" + content.AppFullName + "\" is the entry of another package (" +
             (command.empty() ? std::string("no uninstall command") : command) + ")";
  }
  return {};
}

}  // namespace

bool IsFileInUse(InstallPlatform& platform, const std::string& path) {
  DWORD attributes = platform.GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return platform.CheckFileWritableA(path.c_str()) != ERROR_SUCCESS;
}

bool LaunchHidden(InstallPlatform& platform, const std::string& parameters) {
  HINSTANCE started = platform.ShellExecuteA(nullptr, "open", "cmd.exe", parameters.c_str(), nullptr, SW_HIDE);
  return reinterpret_cast<uintptr_t>(started) > 32;
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

  // setup.inf is read whole and checked before anything changes: a missing or refused one leaves
  // the system directory, any record of the same name and the registry as they are.
  std::vector<std::string> lines;
  std::string why;
  switch (ReadDescription(platform, setupPath, kMaxSetupSize, lines, why)) {
    case DescriptionRead::NotOpened:
      platform.WriteError("install: " + why + "; nothing was installed\n");
      return kExitNoDescription;
    case DescriptionRead::Refused:
      RefuseSetup(platform, why);
      return kExitRefused;
    case DescriptionRead::Done: break;
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
  if (std::string problem = ForeignNames(platform, content, recordName); !problem.empty()) {
    RefuseSetup(platform, problem);
    return kExitRefused;
  }

  // Run from its own copy, the program is in place already.
  bool copied = platform.CopyFileA(context.ModulePath.c_str(), selfCopy.c_str(), FALSE);
  if (!copied && !SameFileName(context.ModulePath, selfCopy))
    platform.WriteError("install: cannot copy the program to " + selfCopy +
                        "; the package's uninstall command needs it there\n");
  FILE* record = platform.OpenTextFile(recordPath.c_str(), "w");
  if (!record) {
    platform.WriteError("install: cannot create the uninstall record " + recordPath + "\n");
    return kExitNoDescription;
  }
  bool recordWritten = std::fputs(recordText.c_str(), record) >= 0;
  recordWritten = std::fclose(record) == 0 && recordWritten;
  if (!recordWritten)
    platform.WriteError("install: the uninstall record " + recordPath + " could not be written whole\n");

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
      // A file the package lacks replaces nothing: the installed one (perhaps another package's)
      // keeps its registration.
      DWORD sourceAttributes = platform.GetFileAttributesA(source.c_str());
      if (sourceAttributes == INVALID_FILE_ATTRIBUTES ||
          (sourceAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        platform.WriteError("install: " + entry.Name + " is not in the package; it is neither copied nor registered\n");
        if (kind == FileKind::Ocx) VersionText = entry.Version;
        continue;
      }
      // The file may not be there yet, or not registered: only the registration afterwards counts.
      static_cast<void>(LaunchHidden(platform, UnregisterCommand(target)));
      platform.Sleep(1000);
    }
    if (platform.CopyFileA(source.c_str(), target.c_str(), FALSE) && !LaunchHidden(platform, RegisterCommand(target)))
      platform.WriteError("install: regsvr32 could not be started; " + entry.Name +
                          " is installed but not registered\n");
    if (kind == FileKind::Ocx) VersionText = entry.Version;
  }

  WriteUninstallEntry(platform, content.AppFullName, SystemDir, recordName, VersionText, IconNames);
  return kExitDone;
}
