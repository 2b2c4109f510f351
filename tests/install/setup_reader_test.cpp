// The setup reader, the file kinds and the string operations, case by case.
#include <gtest/gtest.h>

#include <sstream>

#include "install/setup_reader.h"
#include "install/text_ops.h"

namespace {

// Feeds `text` line by line (each with its LF, the last without one if the text has none).
SetupContent Read(const std::string& text) {
  SetupReader reader;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    reader.Feed(text.substr(at, end - at));
    at = end;
  }
  return reader.content();
}

// "Name|Extra|ClassId|Version|owned" for each entry.
std::vector<std::string> Entries(const SetupContent& content) {
  std::vector<std::string> rows;
  for (const FileEntry& e : content.entries)
    rows.push_back(e.Name + "|" + e.Extra + "|" + e.ClassId + "|" + e.Version + "|" + (e.Owned ? "owned" : "-"));
  return rows;
}

struct EntryCase {
  const char* what;
  const char* line;
  const char* entry;
};

TEST(SetupReader, EntryLines) {
  const EntryCase cases[] = {
      {"all five fields", "a.ocx,extra,{CLSID},1.2.3,true", "a.ocx|extra|{CLSID}|1.2.3|owned"},
      {"two commas move every later field", "a.ocx,,{CLSID},1.2,true", "a.ocx|{CLSID}|1.2|true|-"},
      {"an empty quoted field keeps its place", "a.ocx,\"\",{CLSID},1.2,true", "a.ocx||{CLSID}|1.2|owned"},
      {"a field of spaces keeps its place", "a.ocx,   ,{CLSID},1.2,TRUE", "a.ocx||{CLSID}|1.2|owned"},
      {"quotes around spaces keep them", "\"my file.ocx \" , x", "my file.ocx |x|||-"},
      {"commas move True out of its place", "a.dll,,,,True", "a.dll|True|||-"},
      {"fifth field True", "a.dll,e,c,v,True", "a.dll|e|c|v|owned"},
      {"fifth field yes", "a.dll,e,c,v,yes", "a.dll|e|c|v|-"},
      {"fifth field 1", "a.dll,e,c,v,1", "a.dll|e|c|v|-"},
      {"no fifth field", "a.dll,e,c,v", "a.dll|e|c|v|-"},
      {"leading and trailing commas yield nothing", ",,a.ini,e,", "a.ini|e|||-"},
      {"sixth field ignored", "a,b,c,d,true,f,g", "a|b|c|d|owned"},
      {"a semicolon is no comment", "; a.ocx", "; a.ocx||||-"},
      {"a line of spaces is an entry without a name", "   ", "||||-"},
      {"tabs and CR trimmed", "\ta.ax\r,\te\t", "a.ax|e|||-"},
  };
  for (const EntryCase& c : cases) {
    SetupContent content = Read(std::string("[Install Files]\n") + c.line + "\n");
    ASSERT_EQ(content.entries.size(), 1u) << c.what;
    EXPECT_EQ(Entries(content).front(), c.entry) << c.what;
  }
}

struct SectionCase {
  const char* what;
  const char* text;
  std::vector<std::string> entries;
  const char* appFullName;
  const char* saveFolder;
};

TEST(SetupReader, Sections) {
  const SectionCase cases[] = {
      {"both sections", "[InstallInfo]\nAppFullName=Viewer\nSaveFolder=\"C:\\S\\\"\n\n[Install Files]\na.ocx\n",
       {"a.ocx||||-"}, "Viewer", "C:\\S\\"},
      {"an empty line ends the list", "[Install Files]\na.ocx\n\nb.ocx\n", {"a.ocx||||-"}, "", ""},
      {"a name with [ ends the list", "[Install Files]\na.ocx\nb[1].ocx\nc.ocx\n", {"a.ocx||||-"}, "", ""},
      {"other sections are passed over", "[Strings]\nx=y\n[Install Files]\na.dll\n", {"a.dll||||-"}, "", ""},
      {"[InstallInfo] anywhere in a line opens it", "; see [InstallInfo] below\nAppFullName=V\n", {}, "V", ""},
      {"[Install Files] inside the info section wins",
       "[InstallInfo]\nAppFullName=V\n[Install Files]\na.ax\n", {"a.ax||||-"}, "V", ""},
      {"spaces around = are part of the key", "[InstallInfo]\nAppFullName = Viewer\n", {}, "", ""},
      {"keys compare with case", "[InstallInfo]\nappfullname=Viewer\n", {}, "", ""},
      {"quoted value", "[InstallInfo]\nAppFullName=\"Halvorn Viewer\"\n", {}, "Halvorn Viewer", ""},
      {"the later line wins", "[InstallInfo]\nSaveFolder=a\nSaveFolder=b\n", {}, "", "b"},
      {"a line without = is key and value", "[InstallInfo]\nAppFullName\n", {}, "AppFullName", ""},
      {"no final line end", "[InstallInfo]\nAppFullName=V", {}, "V", ""},
      {"a CR is no line end", "[InstallInfo]\nAppFullName=V\r\n", {}, "V\r", ""},
      {"lines before any section", "a.ocx\nAppFullName=V\n", {}, "", ""},
  };
  for (const SectionCase& c : cases) {
    SetupContent content = Read(c.text);
    EXPECT_EQ(Entries(content), c.entries) << c.what;
    EXPECT_EQ(content.AppFullName, c.appFullName) << c.what;
    EXPECT_EQ(content.SaveFolder, c.saveFolder) << c.what;
  }
}

TEST(SetupReader, InfoTextOverItsLimitIsReported) {
  SetupContent fits = Read("[InstallInfo]\nAppFullName=" + std::string(127, 'v') + "\n");
  EXPECT_TRUE(fits.overlongInfoLines.empty());
  SetupContent value = Read("[InstallInfo]\nAppFullName=" + std::string(128, 'v') + "\n");
  EXPECT_EQ(value.overlongInfoLines.size(), 1u);
  SetupContent key = Read("[InstallInfo]\n" + std::string(128, 'k') + "=1\n");
  EXPECT_EQ(key.overlongInfoLines.size(), 1u);
}

TEST(ClassifyFile, FirstSubstringFoundDecides) {
  const std::pair<const char*, FileKind> cases[] = {
      {"media.ocx", FileKind::Ocx},  {"MEDIA.OCX", FileKind::Ocx}, {"pelistra.ax", FileKind::Ax},
      {"max.dll", FileKind::Ax},     {"relax.inf", FileKind::Ax},  {"info.dll", FileKind::Dll},
      {"setup.ini", FileKind::Ini},  {"setup.inf", FileKind::Inf}, {"ocx.ax", FileKind::Ocx},
      {"readme.txt", FileKind::Other}, {"", FileKind::Other},
  };
  for (auto [name, kind] : cases) EXPECT_EQ(ClassifyFile(name), kind) << name;
}

TEST(TextOps, TrimLowerReplace) {
  std::string s = " \t\v\f\r\nab c \n\r";
  TrimLeft(s);
  EXPECT_EQ(s, "ab c \n\r");
  TrimRight(s);
  EXPECT_EQ(s, "ab c");
  s = "AbZ\xC4\xD6 1";
  ToLower(s);
  EXPECT_EQ(s, "abz\xC4\xD6 1");  // only A to Z change
  s = "\"a\"\"b\"";
  ReplaceAll(s, "\"", "");
  EXPECT_EQ(s, "ab");
  s = "aabb";
  ReplaceAll(s, "ab", "");  // deleting joins a new "ab", deleted too
  EXPECT_EQ(s, "");
  s = "xa";
  ReplaceAll(s, "a", "aa");  // a replacement that holds the text ends
  EXPECT_EQ(s, "xaa");
}

}  // namespace
