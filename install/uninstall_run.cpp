#include "install/uninstall_run.h"

#include "install/description_file.h"
#include "install/install_run.h"
#include "install/limits.h"
#include "install/package_records.h"
#include "install/setup_checks.h"
#include "install/setup_reader.h"
#include "install/uninstall_entry.h"
#include "platform/shell/desktop.h"

namespace {

constexpr char kUninstallWarning[] = "Please close all IE browser windows,\nbefore uninstall Halvorn Media Control";
constexpr int kMaxRetries = 6;

enum class Warning { Proceed, Aborted, NotShown };

// Asks while a browser window is open and the first file is in use; the sixth Retry goes on.
Warning BrowserCheck(InstallPlatform& platform, const SetupContent& content, const std::string& systemDir) {
  int RetryCount = 0;
  for (;;) {
    const FileEntry* first = content.entries.empty() ? nullptr : &content.entries.front();
    bool inUse = first && IsPlainFileName(first->Name) && IsFileInUse(platform, systemDir + first->Name);
    if (!inUse || !platform.FindWindowW(u"IEFrame", nullptr)) return Warning::Proceed;
    int answer = platform.MessageBoxA(platform.GetTopWindow(nullptr), kUninstallWarning, "Warning",
                                      MB_ABORTRETRYIGNORE | MB_ICONWARNING);
    switch (answer) {
      case IDABORT: return Warning::Aborted;
      case IDIGNORE: return Warning::Proceed;
      case IDRETRY:
        if (++RetryCount >= kMaxRetries) return Warning::Proceed;
        break;
      default: return Warning::NotShown;  // asking again would ask for ever
    }
  }
}

std::string RecordProblem(const RunContext& context, const std::string& recordName) {
  if (recordName.size() > kMaxRecordName)
    return "the record name is longer than " + std::to_string(kMaxRecordName) + " characters";
  if (!IsPlainFileName(recordName)) return "the record name \"" + recordName + "\" must not hold a path";
  if ((context.ModuleDir + recordName).size() > kMaxPath) return "the record's path is too long";
  return {};
}

}  // namespace

int RunUninstall(InstallPlatform& platform, const RunContext& context) {
  const std::string& SystemDir = context.SystemDir;
  const std::string& recordName = context.arguments[1];
  if (std::string problem = RecordProblem(context, recordName); !problem.empty()) {
    platform.WriteError("install: " + problem + "; nothing was removed\n");
    return kExitRefused;
  }
  std::string recordPath = context.ModuleDir + recordName;
  std::vector<std::string> lines;
  std::string why;
  switch (ReadDescription(platform, recordPath, kMaxRecordSize, lines, why)) {
    case DescriptionRead::NotOpened:
      platform.WriteError("install: cannot open the uninstall record " + recordPath + "\n");
      return kExitNoDescription;
    case DescriptionRead::Refused:
      platform.WriteError("install: " + why + "; nothing was removed\n");
      return kExitRefused;
    case DescriptionRead::Done: break;
  }
  SetupReader reader;
  for (const std::string& line : lines) reader.Feed(line);
  const SetupContent& content = reader.content();
  if (std::string problem = CheckSetupLimits(content, "", SystemDir); !problem.empty()) {
    platform.WriteError("install: " + problem + "; nothing was removed\n");
    return kExitRefused;
  }
  // The install run put every file into the system directory, whatever the record says; a
  // SaveFolder elsewhere would delete files the package never placed.
  std::string SaveFolder = SystemDir;
  if (!content.SaveFolder.empty() && content.SaveFolder != SystemDir)
    platform.WriteError("install: the record's SaveFolder \"" + content.SaveFolder +
                        "\" is not the system directory; the files are removed from " + SystemDir + "\n");

  switch (BrowserCheck(platform, content, SystemDir)) {
    case Warning::Aborted: return kExitDone;
    case Warning::NotShown:
      platform.WriteError("install: the warning about open browser windows could not be answered; nothing was "
                          "removed\n");
      return kExitWarningNotShown;
    case Warning::Proceed: break;
  }

  // A file that another installed package lists stays, registered, for that package.
  std::vector<std::string> unreadable;
  std::vector<InstalledPackage> others = OtherPackages(platform, SystemDir, recordName, unreadable);
  for (const std::string& name : unreadable)
    platform.WriteError("install: the uninstall record " + name + " cannot be read; its files are not looked at\n");
  for (const FileEntry& entry : content.entries) {
    FileKind kind = ClassifyFile(entry.Name);
    if (kind == FileKind::Other) continue;
    if (!IsPlainFileName(entry.Name)) {
      platform.WriteError("install: skipped \"" + entry.Name + "\": a file name in the record must not hold a path\n");
      continue;
    }
    bool removed = kind == FileKind::Inf || kind == FileKind::Ini || entry.Owned;
    if (!removed) continue;
    if (IsRecordName(entry.Name)) {
      platform.WriteError("install: skipped \"" + entry.Name + "\": it has the name of an uninstall record\n");
      continue;
    }
    if (const InstalledPackage* user = PackageListing(others, entry.Name)) {
      platform.WriteError("install: kept " + entry.Name + ": the package of " + user->recordName + " uses it too\n");
      continue;
    }
    std::string target = SaveFolder + entry.Name;
    if (kind == FileKind::Inf || kind == FileKind::Ini) {
      platform.DeleteFileA(target.c_str());
    } else if (entry.Owned) {
      // An unregistration that cannot start still lets the file go: the package is being removed.
      if (!LaunchHidden(platform, UnregisterCommand(target)))
        platform.WriteError("install: regsvr32 could not be started to unregister " + entry.Name + "\n");
      platform.Sleep(1000);
      platform.DeleteFileA(target.c_str());
    }
  }
  platform.DeleteFileA(recordPath.c_str());
  if (content.AppFullName.empty()) {
    platform.WriteError("install: the record names no AppFullName; no entry is removed from the list of programs\n");
  } else if (!IsEntryName(content.AppFullName)) {
    platform.WriteError("install: the record's AppFullName \"" + content.AppFullName +
                        "\" holds a \"\\\"; no entry is removed from the list of programs\n");
  } else if (OwnerOfEntry(platform, content.AppFullName, recordName) == EntryOwner::Other) {
    platform.WriteError("install: the entry \"" + content.AppFullName +
                        "\" belongs to another package; it is left in the list of programs\n");
  } else {
    platform.RegDeleteKeyA((kUninstallKeyPath + content.AppFullName).c_str());
  }
  return kExitDone;
}
