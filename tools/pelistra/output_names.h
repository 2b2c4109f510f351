// The names of a recording's files. The first is OUTPUT itself; each switch takes the next:
// OUTPUT's stem plus "-001", "-002"... before its extension, or, when OUTPUT has a printf-style
// number field ("rec-%03d.asf"), that field filled with 0 for the first file, 1 for the next...
#pragma once

#include <string>

class OutputNames {
 public:
  // False, with the reason in *error, for a name with a bad or second number field, or a field
  // in the folder part.
  bool Parse(const std::string& output, std::string* error);
  // The name of file number `index` (0 is the first).
  std::string Name(unsigned index) const;
  // Whether `path`, written as the names are (same folder text), is one of the names, and which.
  bool IndexOf(const std::string& path, unsigned* index) const;
  // The folder all the names share, as written in OUTPUT ("" or ending in "/").
  const std::string& Folder() const { return folder_; }

 private:
  std::string output_;
  std::string folder_;
  bool has_field_ = false;
  std::string before_, after_;  // around the number field, or around "-NNN" (stem and extension)
  bool zero_pad_ = false;
  unsigned width_ = 0;
};
