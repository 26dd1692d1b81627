#include "platform/SleepInhibitor.h"
#include "support/FakeDesktop.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace slimreel;

// The portal's grant when it comes after the work has ended, and the one still held when the program ends, are let go.
// (Held while a run works and let go when it ends: the window's and the command line's tests.)
TEST(DesktopServices, LateGrantsAndTheOneHeldAtTheEndAreLetGo)
{
    test::FakeDesktop desktop;
    ASSERT_TRUE(desktop.isUp());
    const test::FakePortal &portal = desktop.portal;
    {
        SleepInhibitor inhibitor(QStringLiteral("正在压缩视频"));
        inhibitor.setHeld(true);
        inhibitor.setHeld(false); // before the answer
        ASSERT_TRUE(test::spinUntil([&] { return portal.requests.size() == 1 && portal.open() == 0; }));
        EXPECT_FALSE(inhibitor.isGranted());

        inhibitor.setHeld(true);
        ASSERT_TRUE(test::spinUntil([&] { return inhibitor.isGranted(); }));
        EXPECT_EQ(portal.asked.last(), std::pair(4u | 8u, QStringLiteral("正在压缩视频"))) << "suspend and idle";
    }
    EXPECT_TRUE(test::spinUntil([&] { return portal.open() == 0; })) << "the program ended holding it";
}
