#include "context/error_table.h"

#include <gtest/gtest.h>

#include <string>

#include "context/notifications.h"
#include "recording_window.h"

namespace stb {
namespace {

TEST(ErrorTable, HoldsAllRecordsInOrder) {
  EXPECT_EQ(ErrorTable[0].code, 0);
  EXPECT_EQ(ErrorTable[39].code, 39);
  EXPECT_EQ(ErrorTable[40].code, 0x10000);
  EXPECT_EQ(ErrorTable[46].code, 0x10006);
  EXPECT_EQ(ErrorTable[47].code, 40);
  EXPECT_STREQ(ErrorTable[47].text, "Send Packet Error!Please Check serial port device");
}

TEST(ReportError, PostsTextWithLineBreakOrNothing) {
  struct Case {
    int32_t code;
    const char* expected;  // null = nothing posted
  };
  const Case cases[] = {
      {0, "Erfolgreich!\r\n"},
      {0x10001, "STB set address  overflow!\r\n"},
      {8, "Zeitüberschreitung beim Datenlesen !\r\n"},
      {41, nullptr},
      {0x10007, nullptr},
      {-1, nullptr},
  };
  for (const Case& c : cases) {
    test::ScopedRecordingWindow window;
    ReportError(c.code);
    const auto logs = window->Texts(WM_WORKER_LOG);
    if (c.expected == nullptr) {
      EXPECT_TRUE(window->Records().empty()) << c.code;
    } else {
      ASSERT_EQ(logs.size(), 1u) << c.code;
      EXPECT_EQ(logs[0], c.expected);
    }
  }
}

TEST(LookupErrorText, LeavesBufferAloneForUnknownCode) {
  char out[256] = "untouched";
  EXPECT_EQ(LookupErrorText(41, out), 0);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(LookupErrorText(27, out), 1);
  EXPECT_STREQ(out, "No Packet receive!\r\n");
}

}  // namespace
}  // namespace stb
