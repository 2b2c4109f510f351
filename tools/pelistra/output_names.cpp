#include "tools/pelistra/output_names.h"

#include <cstdio>

namespace {

// "%%" is a literal percent sign in a name with a number field.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
  }
  return out;
}

}  // namespace

bool OutputNames::Parse(const std::string& output, std::string* error) {
  output_ = output;
  has_field_ = false;
  size_t field = std::string::npos, fieldEnd = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    if (output[i] != '%') continue;
    if (i + 1 < output.size() && output[i + 1] == '%') {
      ++i;
      continue;
    }
    // Only a number field: "%d", "%03d", "%5u"... The name is never handed to printf.
    size_t j = i + 1;
    bool zero = j < output.size() && output[j] == '0';
    unsigned width = 0;
    while (j < output.size() && output[j] >= '0' && output[j] <= '9' && width < 100) width = width * 10 + (output[j++] - '0');
    if (j >= output.size() || (output[j] != 'd' && output[j] != 'i' && output[j] != 'u') || width >= 100) {
      *error = "the output name " + output + " has a '%' that is not a number field (such as %03d; %% for a '%')";
      return false;
    }
    if (field != std::string::npos) {
      *error = "the output name " + output + " has more than one number field";
      return false;
    }
    field = i;
    fieldEnd = j + 1;
    zero_pad_ = zero;
    width_ = width;
  }
  const size_t slash = output.rfind('/');
  folder_ = slash == std::string::npos ? "" : output.substr(0, slash + 1);
  if (field != std::string::npos) {
    folder_ = Unescape(folder_);
    // All files of a recording share one folder, so the names an input could take are found by
    // looking into that folder alone.
    if (slash != std::string::npos && field < slash) {
      *error = "the output name " + output + " has its number field in the folder: put it in the file's name";
      return false;
    }
    has_field_ = true;
    before_ = Unescape(output.substr(0, field));
    after_ = Unescape(output.substr(fieldEnd));
    return true;
  }
  // The extension is the last dot of the file's own name, unless the name starts with it.
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = output.rfind('.');
  const size_t cut = dot != std::string::npos && dot > nameStart ? dot : output.size();
  before_ = output.substr(0, cut) + "-";
  after_ = output.substr(cut);
  zero_pad_ = true;
  width_ = 3;
  return true;
}

std::string OutputNames::Name(unsigned index) const {
  if (!has_field_ && index == 0) return output_;
  char number[128];
  std::snprintf(number, sizeof number, zero_pad_ ? "%0*u" : "%*u", static_cast<int>(width_), index);
  return before_ + number + after_;
}

bool OutputNames::IndexOf(const std::string& path, unsigned* index) const {
  if (!has_field_ && path == output_) {
    *index = 0;
    return true;
  }
  if (path.size() <= before_.size() + after_.size() || path.compare(0, before_.size(), before_) != 0 ||
      path.compare(path.size() - after_.size(), after_.size(), after_) != 0)
    return false;
  const std::string number = path.substr(before_.size(), path.size() - before_.size() - after_.size());
  // Digits after any padding, few enough for an index; the name written back must be this one.
  size_t first = number.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  while (first + 1 < number.size() && number[first] == '0') ++first;
  if (number.size() - first > 9) return false;
  unsigned value = 0;
  for (size_t i = first; i < number.size(); ++i) {
    if (number[i] < '0' || number[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(number[i] - '0');
  }
  if (!has_field_ && value == 0) return false;  // the first file is OUTPUT itself
  if (Name(value) != path) return false;
  *index = value;
  return true;
}
