#include "install/record_writer.h"

#include <utility>

namespace {
bool Contains(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }
}  // namespace

RecordWriter::RecordWriter(std::string recordName, std::string systemDir)
    : recordName_(std::move(recordName)), systemDir_(std::move(systemDir)) {}

bool RecordWriter::Feed(const std::string& line, std::string& record) {
  if (hooksNext_) {
    record += "UNINSTALL=UNINSTALL\n";
    hooksNext_ = false;
    return true;
  }
  if (Contains(line, "[Setup Hooks]")) {
    hooksNext_ = true;
    record += line;
    return true;
  }
  if (installNext_) {
    record += "Run=install.exe " + recordName_ + "\n";
    installNext_ = false;
    return true;
  }
  if (Contains(line, "[INSTALL]")) {
    installNext_ = true;
    record += "[UNINSTALL]\n";
    return true;
  }
  if (!inAddReg_ && Contains(line, "[Add.Reg]")) {
    inAddReg_ = true;
    return true;
  }
  if (!inDefaultInstall_ && Contains(line, "[DefaultInstall]")) {
    inDefaultInstall_ = true;
    return true;
  }
  if (inDefaultInstall_ && (line == "\n" || Contains(line, "["))) inDefaultInstall_ = false;

  if (Contains(line, "[InstallInfo]"))
    record += "[InstallInfo]\nSaveFolder=\"" + systemDir_ + "\"\n";
  else if (!inAddReg_ && !inDefaultInstall_)
    record += line;
  return false;
}
