#include "install/run_context.h"

#include "install/limits.h"

std::string ReadLines(FILE* file, std::vector<std::string>& lines, size_t maxBytes) {
  lines.clear();
  std::string line;
  size_t total = 0;
  auto finish = [&] {
    // A NUL ends the line's text as it ends a C string.
    if (size_t nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
    lines.push_back(std::move(line));
    line.clear();
  };
  for (int c; (c = std::getc(file)) != EOF;) {
    if (++total > maxBytes) return "it is larger than " + std::to_string(maxBytes) + " bytes";
    // The stream reads CR LF as LF; a CR standing alone ends a line as well.
    line += c == '\r' ? '\n' : static_cast<char>(c);
    // Refused whole: the original would read the rest as further lines, each a new entry.
    if (line.size() > kMaxLine) return "a line is longer than " + std::to_string(kMaxLine) + " characters";
    if (line.back() == '\n') finish();
  }
  if (std::ferror(file)) return "it cannot be read";
  if (!line.empty()) finish();
  return {};
}
