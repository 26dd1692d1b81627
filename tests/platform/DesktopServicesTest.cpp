#include "platform/DesktopNotification.h"
#include "platform/SleepInhibitor.h"
#include "support/FakeDesktop.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace slimreel;

// Sleep held while work runs, let go when it ends, also when it ends before the desktop has answered or when the
// program ends holding it; a notification reaches the desktop's service.
TEST(DesktopServices, SleepHeldThroughThePortalWhileWorkRunsAndAlwaysLetGoAndTheEndOfARunNotified)
{
    test::FakeDesktop desktop;
    ASSERT_TRUE(desktop.isUp());
    const test::FakePortal &portal = desktop.portal;
    {
        SleepInhibitor inhibitor(QStringLiteral("正在压缩视频"));
        inhibitor.setHeld(true);
        ASSERT_TRUE(test::spinUntil([&] { return inhibitor.isGranted(); }));
        EXPECT_EQ(portal.asked, (QList<std::pair<uint, QString>>{{4 | 8, QStringLiteral("正在压缩视频")}})) << "suspend and idle";
        inhibitor.setHeld(true);
        inhibitor.setHeld(false);
        EXPECT_FALSE(inhibitor.isGranted());
        ASSERT_TRUE(test::spinUntil([&] { return portal.open() == 0; }));

        // Ended before the answer: the late grant is let go at once.
        inhibitor.setHeld(true);
        inhibitor.setHeld(false);
        ASSERT_TRUE(test::spinUntil([&] { return portal.requests.size() == 2 && portal.open() == 0; }));
        EXPECT_FALSE(inhibitor.isGranted());

        inhibitor.setHeld(true);
        ASSERT_TRUE(test::spinUntil([&] { return inhibitor.isGranted(); }));
    }
    EXPECT_TRUE(test::spinUntil([&] { return portal.open() == 0; })) << "the program ended holding it";
    EXPECT_EQ(portal.requests.size(), 3);

    DesktopNotification::show(QStringLiteral("Slimreel"), QStringLiteral("批量压缩完成"));
    EXPECT_TRUE(test::spinUntil([&] { return !desktop.notifications.shown.isEmpty(); }));
    EXPECT_EQ(desktop.notifications.shown, QStringList{"Slimreel:Slimreel:批量压缩完成"});
}
