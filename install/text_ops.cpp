#include "install/text_ops.h"

namespace {
// isspace in the "C" locale, whatever locale the process runs in.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

void TrimLeft(std::string& text) {
  size_t start = 0;
  while (start < text.size() && IsSpace(text[start])) ++start;
  text.erase(0, start);
}

void TrimRight(std::string& text) {
  size_t end = text.size();
  while (end > 0 && IsSpace(text[end - 1])) --end;
  text.erase(end);
}

void ToLower(std::string& text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  // From the start each time, as the original does: a deletion that joins a new `from` deletes
  // that one too. A `to` that holds `from` would never end that way; then the search goes on
  // after each replacement.
  bool fromStart = to.find(from) == std::string::npos;
  for (size_t at = text.find(from); at != std::string::npos;) {
    text.replace(at, from.size(), to);
    at = fromStart ? text.find(from) : text.find(from, at + to.size());
  }
}
