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
  for (const char* output : {"rec-%s.asf", "rec-%n.asf", "%d-%d.asf", "rec-%", "rec-%5.asf", "rec-%999999999999d.asf"}) {
    OutputNames names;
    std::string error;
    EXPECT_FALSE(names.Parse(output, &error)) << output;
    EXPECT_NE(error.find(output), std::string::npos) << error;
  }
}

}  // namespace
