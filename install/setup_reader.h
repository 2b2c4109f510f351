// The reader of setup descriptions ("setup.inf" and the uninstall records written from it): the
// package's file list from "[Install Files]" and its name and folder from "[InstallInfo]".
#pragma once

#include <string>
#include <vector>

enum class FileKind { Ocx, Ax, Dll, Inf, Ini, Other };

// The kind of a file by the first of "ocx", "ax", "dll", "inf", "ini" found anywhere in its
// lower-cased name.
FileKind ClassifyFile(const std::string& name);

struct FileEntry {
  std::string Name;
  std::string Extra;
  std::string ClassId;
  std::string Version;
  bool Owned = false;
};

struct SetupContent {
  std::vector<FileEntry> entries;
  std::string AppFullName;
  std::string SaveFolder;
  // Info lines whose key or value is longer than the format allows (they are otherwise read).
  std::vector<std::string> overlongInfoLines;
};

// One line at a time, as read from the file (with its LF when it has one).
class SetupReader {
 public:
  void Feed(const std::string& line);
  const SetupContent& content() const { return content_; }

 private:
  void ReadEntryLine(const std::string& line);
  void ReadInfoLine(const std::string& line);

  bool inFiles_ = false;
  bool inInfo_ = false;
  SetupContent content_;
};
