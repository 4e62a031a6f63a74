// The channel on this machine's real platform backend, where the maker's
// driver is not installed.
#include <gtest/gtest.h>

#include "probe/channel.h"
#include "tests/support/console_capture.h"

namespace {

TEST(ChannelOnThisMachine, MissingDeviceFailsToOpen) {
    CapturedConsole().clear();
    EXPECT_EQ(OpenTouchpad(), -1);
    EXPECT_EQ(CapturedConsole(), "Open touchpad fail\n");
    EXPECT_EQ(device_handle, nullptr);
    CloseTouchpad();  // nothing to close, nothing printed
    EXPECT_EQ(CapturedConsole(), "Open touchpad fail\n");
}

}  // namespace
