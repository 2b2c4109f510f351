#include "tools/pelistra/output_names.h"

#include <gtest/gtest.h>

namespace {

TEST(OutputNames, NamesFilesInTurn) {
  struct Case {
    const char* output;
    const char* first;
    const char* second;
    const char* eleventh;
  } cases[] = {
      {"rec.asf", "rec.asf", "rec-001.asf", "rec-010.asf"},
      {"rec", "rec", "rec-001", "rec-010"},
      {"dir.d/rec", "dir.d/rec", "dir.d/rec-001", "dir.d/rec-010"},  // a dot in the folder is no extension
      {".hidden", ".hidden", ".hidden-001", ".hidden-010"},
      {"a.b.asf", "a.b.asf", "a.b-001.asf", "a.b-010.asf"},
      {"rec-%03d.asf", "rec-000.asf", "rec-001.asf", "rec-010.asf"},
      {"rec%d.asf", "rec0.asf", "rec1.asf", "rec10.asf"},
      {"100%%-%2u.asf", "100%- 0.asf", "100%- 1.asf", "100%-10.asf"},
      {"%%d.asf", "%%d.asf", "%%d-001.asf", "%%d-010.asf"},  // no field: the name as given
  };
  for (const Case& c : cases) {
    OutputNames names;
    std::string error;
    ASSERT_TRUE(names.Parse(c.output, &error)) << c.output << ": " << error;
    EXPECT_EQ(names.Name(0), c.first) << c.output;
    EXPECT_EQ(names.Name(1), c.second) << c.output;
    EXPECT_EQ(names.Name(10), c.eleventh) << c.output;
  }
}

// The name is never a printf format: anything but one number field is refused.
TEST(OutputNames, RefusesFieldsThatAreNotOneNumber) {
  for (const char* output : {"rec-%s.asf", "rec-%n.asf", "%d-%d.asf", "rec-%", "rec-%5.asf", "rec-%999999999999d.asf",
                             "day-%d/rec.asf"}) {
    OutputNames names;
    std::string error;
    EXPECT_FALSE(names.Parse(output, &error)) << output;
    EXPECT_NE(error.find(output), std::string::npos) << error;
  }
}

// Which file of a recording a path would be: what keeps a rotated name from landing on an input.
TEST(OutputNames, FindsTheIndexOfANameItCouldTake) {
  struct Case {
    const char* output;
    const char* path;
    int index;  // -1: not one of the names
  } cases[] = {
      {"x.asf", "x.asf", 0},
      {"x.asf", "x-001.asf", 1},
      {"x.asf", "x-1234.asf", 1234},
      {"x.asf", "x-000.asf", -1},  // the first file is x.asf itself
      {"x.asf", "x-01.asf", -1},   // not as the names are written
      {"x.asf", "x-0001.asf", -1},
      {"x.asf", "x-abc.asf", -1},
      {"x.asf", "x-001.wav", -1},
      {"x.asf", "y-001.asf", -1},
      {"x.asf", "x-99999999999999999999.asf", -1},  // beyond any index
      {"d/x.asf", "d/x-002.asf", 2},
      {"d/x.asf", "x-002.asf", -1},
      {"cam-%03d.asf", "cam-002.asf", 2},
      {"cam-%03d.asf", "cam-000.asf", 0},
      {"cam-%03d.asf", "cam-2.asf", -1},
      {"cam-%03d.asf", "cam-1000.asf", 1000},
      {"cam-%d.asf", "cam-12.asf", 12},
      {"cam-%d.asf", "cam-012.asf", -1},
      {"cam-%020d.asf", "cam-00000000000000000007.asf", 7},  // wide padding is no large number
      {"100%%-%2u.asf", "100%- 3.asf", 3},
      {"100%%/r%d.asf", "100%/r4.asf", 4},
      {"%%d.asf", "%%d.asf", 0},
  };
  for (const Case& c : cases) {
    OutputNames names;
    std::string error;
    ASSERT_TRUE(names.Parse(c.output, &error)) << c.output << ": " << error;
    unsigned index = 0;
    const bool found = names.IndexOf(c.path, &index);
    EXPECT_EQ(found, c.index >= 0) << c.output << " " << c.path;
    if (found && c.index >= 0) {
      EXPECT_EQ(index, static_cast<unsigned>(c.index)) << c.output << " " << c.path;
    }
  }
}

}  // namespace
