// Inputs found by the fuzz targets, each fed to the function that failed on
// it, with the behaviour it must have instead.
#include <gtest/gtest.h>

#include <string>

#include "base/fatal.h"
#include "base/messages.h"
#include "driver/prefs.h"
#include "driver/text_file.h"

namespace sorvan {
namespace {

int preferencesStatus(const std::string& text, std::string& messages) {
  const TextFile file = makeTextFile(text);
  MessageCapture cap;
  int status = exit_status::kOk;
  try {
    checkPreferences(file.section(), PreScan{}, SongFacts{"\nsong\n", 48000.0, 480000});
  } catch (const Fatal& fatal) {
    status = fatal.status;
  }
  messages = cap.text();
  return status;
}

// An in point beyond any song saturates; the head added to it must not
// overflow but end in the range error.
TEST(FuzzRegressionTest, HeadAfterHugeInPointIsARangeError) {
  std::string messages;
  EXPECT_EQ(preferencesStatus("head\t2\nxin\t9e99", messages), exit_status::kConfig);
  EXPECT_NE(messages.find("Head or tail set incorrectly in preferences!\n"), std::string::npos);
}

}  // namespace
}  // namespace sorvan
