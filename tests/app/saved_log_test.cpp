#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/saved_log.h"

TEST(SavedLog, OneBytePerCharacterWithoutAMarkWhenEverythingFits) {
  EXPECT_EQ(EncodeLog(u"a\n\u00e9"), std::string("a\n\xe9"));
}

TEST(SavedLog, Utf16LittleEndianWithAMarkOtherwise) {
  EXPECT_EQ(EncodeLog(u"a\n\u0141"), std::string("\xff\xfe" "a\0\n\0\x41\x01", 8));
}

TEST(SavedLog, ReplacesTheFileAndReportsAPathThatCannotBeWritten) {
  std::string path = testing::TempDir() + "saved_log_test.txt";
  std::ofstream(path) << "an older and much longer discussion";
  ASSERT_TRUE(SaveLogFile(path.c_str(), u"a\n\u0141"));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), EncodeLog(u"a\n\u0141"));
  std::remove(path.c_str());
  // A failed save must say so: the window tells the user the log was not kept.
  EXPECT_FALSE(SaveLogFile("/nonexistent-dir/log.txt", u"a"));
}
