#include "install/setup_reader.h"

#include "install/limits.h"
#include "install/text_ops.h"

namespace {
bool Contains(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }
}  // namespace

FileKind ClassifyFile(const std::string& name) {
  std::string lower = name;
  ToLower(lower);
  if (Contains(lower, "ocx")) return FileKind::Ocx;
  if (Contains(lower, "ax")) return FileKind::Ax;
  if (Contains(lower, "dll")) return FileKind::Dll;
  if (Contains(lower, "inf")) return FileKind::Inf;
  if (Contains(lower, "ini")) return FileKind::Ini;
  return FileKind::Other;
}

void SetupReader::Feed(const std::string& line) {
  if (Contains(line, "[Install Files]")) {
    inFiles_ = true;
    return;
  }
  if (Contains(line, "[InstallInfo]")) {
    inInfo_ = true;
    inFiles_ = false;
    return;
  }
  if (!inFiles_ && !inInfo_) return;
  if (line == "\n" || Contains(line, "[")) {
    inFiles_ = inInfo_ = false;
    return;
  }
  if (inFiles_)
    ReadEntryLine(line);
  else
    ReadInfoLine(line);
}

void SetupReader::ReadEntryLine(const std::string& line) {
  FileEntry entry;
  // Pieces as strtok makes them: runs of commas separate like one, and none is empty.
  size_t number = 0;
  for (size_t at = 0; at < line.size();) {
    size_t start = line.find_first_not_of(',', at);
    if (start == std::string::npos) break;
    size_t end = line.find(',', start);
    if (end == std::string::npos) end = line.size();
    std::string piece = line.substr(start, end - start);
    at = end;
    ++number;
    TrimRight(piece);
    TrimLeft(piece);
    ReplaceAll(piece, "\"", "");
    if (piece.empty()) continue;  // keeps its number
    switch (number) {
      case 1: entry.Name = piece; break;
      case 2: entry.Extra = piece; break;
      case 3: entry.ClassId = piece; break;
      case 4: entry.Version = piece; break;
      case 5: ToLower(piece), entry.Owned = piece == "true"; break;
      default: break;
    }
  }
  content_.entries.push_back(std::move(entry));
}

void SetupReader::ReadInfoLine(const std::string& line) {
  std::string text = line;
  ReplaceAll(text, "\"", "");
  ReplaceAll(text, "\n", "");
  size_t equals = text.find('=');
  std::string key = equals == std::string::npos ? text : text.substr(0, equals);
  std::string value = equals == std::string::npos ? text : text.substr(equals + 1);
  if (key.size() > kMaxInfoText || value.size() > kMaxInfoText) content_.overlongInfoLines.push_back(text);
  if (key == "AppFullName") content_.AppFullName = value;
  else if (key == "SaveFolder") content_.SaveFolder = value;
}
