#include "install/uninstall_run.h"

#include "install/install_run.h"
#include "install/limits.h"
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
  FILE* record = platform.OpenTextFile(recordPath.c_str(), "r");
  if (!record) {
    platform.WriteError("install: cannot open the uninstall record " + recordPath + "\n");
    return kExitNoDescription;
  }
  SetupReader reader;
  for (const std::string& line : ReadLines(record)) reader.Feed(line);
  std::fclose(record);
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

  for (const FileEntry& entry : content.entries) {
    FileKind kind = ClassifyFile(entry.Name);
    if (kind == FileKind::Other) continue;
    if (!IsPlainFileName(entry.Name)) {
      platform.WriteError("install: skipped \"" + entry.Name + "\": a file name in the record must not hold a path\n");
      continue;
    }
    std::string target = SaveFolder + entry.Name;
    if (kind == FileKind::Inf || kind == FileKind::Ini) {
      platform.DeleteFileA(target.c_str());
    } else if (entry.Owned) {
      LaunchHidden(platform, UnregisterCommand(target));
      platform.Sleep(1000);
      platform.DeleteFileA(target.c_str());
    }
  }
  platform.DeleteFileA(recordPath.c_str());
  if (content.AppFullName.empty())
    platform.WriteError("install: the record names no AppFullName; no entry is removed from the list of programs\n");
  else
    platform.RegDeleteKeyA((kUninstallKeyPath + content.AppFullName).c_str());
  return kExitDone;
}
