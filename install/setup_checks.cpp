#include "install/setup_checks.h"

#include "install/limits.h"
#include "install/regsvr_commands.h"
#include "install/text_ops.h"

namespace {

std::string TooLong(const std::string& what, const std::string& text, size_t limit) {
  return what + " is longer than " + std::to_string(limit) + " characters: \"" + text.substr(0, 80) +
         (text.size() > 80 ? "...\"" : "\"");
}

}  // namespace

std::string CheckSetupLimits(const SetupContent& content, const std::string& moduleDir, const std::string& systemDir) {
  if (!content.overlongInfoLines.empty())
    return TooLong("a key or value of [InstallInfo]", content.overlongInfoLines.front(), kMaxInfoText);
  if (content.AppFullName.size() > kMaxInfoText) return TooLong("AppFullName", content.AppFullName, kMaxInfoText);
  if (content.SaveFolder.size() > kMaxInfoText) return TooLong("SaveFolder", content.SaveFolder, kMaxInfoText);
  size_t iconNames = 0;
  for (const FileEntry& entry : content.entries) {
    if (entry.Name.size() > kMaxName) return TooLong("a file name", entry.Name, kMaxName);
    if (entry.Extra.size() > kMaxExtra) return TooLong("the second field of " + entry.Name, entry.Extra, kMaxExtra);
    if (entry.Version.size() > kMaxVersion) return TooLong("the version of " + entry.Name, entry.Version, kMaxVersion);
    if (!IsPlainFileName(entry.Name)) continue;  // skipped by the runs, with a message
    FileKind kind = ClassifyFile(entry.Name);
    if (kind == FileKind::Other) continue;
    if (!moduleDir.empty() && (moduleDir + entry.Name).size() > kMaxPath)
      return TooLong("the source path", moduleDir + entry.Name, kMaxPath);
    if ((systemDir + entry.Name).size() > kMaxPath) return TooLong("the target path", systemDir + entry.Name, kMaxPath);
    std::string target = systemDir + entry.Name;
    bool registered = kind == FileKind::Ocx || kind == FileKind::Ax;
    bool unregistered = entry.Owned && (registered || kind == FileKind::Dll);
    if (registered && RegisterCommand(target).size() > kMaxCommand)
      return TooLong("the registration command", RegisterCommand(target), kMaxCommand);
    if (unregistered && UnregisterCommand(target).size() > kMaxCommand)
      return TooLong("the unregistration command", UnregisterCommand(target), kMaxCommand);
    if (kind == FileKind::Ocx) {
      if (entry.Version.size() > kMaxDisplayVersion)
        return TooLong("the version of " + entry.Name, entry.Version, kMaxDisplayVersion);
      iconNames += entry.Name.size();
      if (iconNames > kMaxIconNames)
        return "the names of the \"ocx\" files together are longer than " + std::to_string(kMaxIconNames) +
               " characters";
    }
  }
  return {};
}
