// The uninstall record: setup.inf passed through a line filter while the install run reads it.
// The hooks start this program with the record's name, "[InstallInfo]" gains the folder of the
// installed files, "[DefaultInstall]" and everything from "[Add.Reg]" on are dropped.
#pragma once

#include <string>

class RecordWriter {
 public:
  // `systemDir` ends in the separator.
  RecordWriter(std::string recordName, std::string systemDir);

  // Appends to `record` what the record receives for the line (LF line ends; the text-mode file
  // stores them as CR LF) and answers whether the line is consumed: a consumed line does not go
  // on to the setup reader.
  bool Feed(const std::string& line, std::string& record);

 private:
  std::string recordName_;
  std::string systemDir_;
  bool hooksNext_ = false;
  bool installNext_ = false;
  bool inAddReg_ = false;
  bool inDefaultInstall_ = false;
};
