#include "compress/EncoderCatalog.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace slimreel;

namespace {

// A fake ffmpeg that logs the encoder of every trial and passes it only for the encoders named, after `delay` seconds.
struct FakeTrials {
    explicit FakeTrials(const QStringList &accepted, int delay = 0)
    {
        const QString script = QStringLiteral("encoder=$(echo \"$*\" | sed 's/.*-c:v \\([^ ]*\\).*/\\1/')\n"
                                              "echo $encoder >> \"$0.log\"\nsleep %1\n"
                                              "case ' %2 ' in *\" $encoder \"*) exit 0 ;; esac\nexit 1\n");
        test::writeScript(dir, QStringLiteral("ffmpeg"), script.arg(delay).arg(accepted.join(' ')));
    }
    ToolLocator locator() const { return ToolLocator({dir.filePath(QStringLiteral("ffmpeg"))}); }
    QStringList calls() const { return QString(test::readFile(dir.filePath("ffmpeg.log"))).split('\n', Qt::SkipEmptyParts); }
    QTemporaryDir dir;
};

} // namespace

TEST(EncoderCatalog, FirstHardwareFamilyWhoseTwoTrialsPassElseSoftware)
{
    const QStringList av1Trials{"av1_nvenc", "av1_qsv", "av1_vaapi"};
    // The encoders that pass, the family chosen, the trials in their order, and AV1's family, decided on its own after.
    const std::tuple<QStringList, const char *, QStringList, const char *> cases[] = {
        {{}, "software", QStringList{"h264_nvenc", "h264_qsv", "h264_vaapi"} + av1Trials, "software"},
        {{"h264_vaapi", "hevc_vaapi"}, "VAAPI", QStringList{"h264_nvenc", "h264_qsv", "h264_vaapi", "hevc_vaapi"} + av1Trials, "software"},
        // A family with only its H.264 encoder working is passed over.
        {{"h264_nvenc", "h264_qsv", "hevc_qsv", "av1_qsv"}, "QSV", {"h264_nvenc", "hevc_nvenc", "h264_qsv", "hevc_qsv", "av1_nvenc", "av1_qsv"}, "QSV"},
        {{"h264_nvenc", "hevc_nvenc", "h264_qsv", "hevc_qsv", "av1_vaapi"}, "NVENC", QStringList{"h264_nvenc", "hevc_nvenc"} + av1Trials, "VAAPI"},
    };
    for (const auto &[accepted, family, trials, av1Family] : cases) {
        const FakeTrials fake(accepted);
        EncoderCatalog catalog(fake.locator());
        catalog.start();
        catalog.start();
        const EncoderProfile profile = test::wait(catalog.profile(std::chrono::seconds(30)));
        EXPECT_EQ(profile.family.toStdString(), family);
        EXPECT_EQ(test::wait(catalog.profile()), profile); // decided once
        EXPECT_EQ(test::wait(catalog.av1Profile(std::chrono::seconds(30))).family.toStdString(), av1Family);
        EXPECT_EQ(fake.calls(), trials) << family;
    }
    // Without ffmpeg the stand-ins are decided at once.
    EncoderCatalog none(ToolLocator({QStringLiteral("/nonexistent/ffmpeg")}));
    EXPECT_EQ(test::wait(none.profile(std::chrono::milliseconds(0))), EncoderProfile::software());
    // A family whose device node is missing is not even tried.
    EncoderProfile absent = EncoderProfile::vaapi();
    absent.deviceNode = QStringLiteral("/nonexistent/renderD128");
    EncoderProfile present = EncoderProfile::nvenc();
    present.deviceNode = QStringLiteral("/dev/null");
    EXPECT_EQ(EncoderProfile::withDevicePresent({absent, present, EncoderProfile::software()}),
              (std::vector{present, EncoderProfile::software()}));

    // Trials later than the first asker's wait give it the stand-ins meanwhile.
    const FakeTrials slow({QStringLiteral("h264_nvenc"), QStringLiteral("hevc_nvenc")}, 1);
    EncoderCatalog late(slow.locator());
    EXPECT_EQ(test::wait(late.profile()), EncoderProfile::software()); // the default second is less than they take
    EXPECT_FALSE(late.decision().has_value());
    ASSERT_TRUE(test::spinUntil([&] { return late.decision().has_value(); }));
    EXPECT_EQ(test::wait(late.profile(std::chrono::milliseconds(0))).family, QStringLiteral("NVENC"));
    EXPECT_EQ(test::wait(late.av1Profile(std::chrono::seconds(30))), EncoderProfile::software()); // trials over before it goes
}
