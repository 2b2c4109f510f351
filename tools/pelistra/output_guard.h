// Keeps a recording from destroying a file: no output may be one of its inputs (the same file by
// device and inode, whatever name or link leads to it), and an existing file is replaced only when
// the user said so.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/win/status.h"
#include "tools/pelistra/output_names.h"

class OutputGuard {
 public:
  explicit OutputGuard(bool overwrite) : overwrite_(overwrite) {}

  // Protects an input: a file, or "-" for standard input (a file when redirected from one). An
  // input that cannot be found is left to its source to report.
  HRESULT AddInput(const std::string& path);
  // Empty when `name` may be written now; else why not, naming the file.
  std::string CheckName(const std::string& name) const;
  // Empty when no file in the output folder that `names` could take is an input; else the first
  // such, named. Refused even with overwrite: the recording would read what it destroys.
  std::string CheckRotatedNames(const OutputNames& names) const;

 private:
  struct FileId {
    dev_t device;
    ino_t inode;
  };
  bool IsInput(const std::string& path) const;

  bool overwrite_;
  std::vector<FileId> inputs_;
};
