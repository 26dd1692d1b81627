#include "compress/EncoderCatalog.h"
#include "compress/FFmpegCompressor.h"
#include "platform/ChildProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace slimreel;

// Readable failure messages for the values compared below.
static void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

std::vector<std::string> strings(const QStringList &list)
{
    std::vector<std::string> out;
    for (const QString &s : list) {
        out.push_back(s.toStdString());
    }
    return out;
}

// A fake ffmpeg that logs the encoder of every call and passes the trial only
// for the encoders named, after `delay` seconds.
QString fakeTrials(const QTemporaryDir &dir, const QStringList &accepted, int delay = 0)
{
    QString cases;
    for (const QString &name : accepted) {
        cases += QStringLiteral("  *'-c:v %1 '*) exit 0 ;;\n").arg(name);
    }
    return test::writeScript(dir, QStringLiteral("ffmpeg"),
                             QStringLiteral("args=\"$* \"\n"
                                            "echo \"$args\" | sed 's/.*-c:v \\([^ ]*\\).*/\\1/' >> \"$(dirname \"$0\")/calls\"\n"
                                            "sleep %1\n"
                                            "case \"$args\" in\n%2esac\nexit 1\n")
                                 .arg(delay)
                                 .arg(cases));
}

QStringList calls(const QTemporaryDir &dir)
{
    QFile file(dir.filePath(QStringLiteral("calls")));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

TEST(EncoderCatalog, MacOSProfileIsVideoToolboxFavouringSpeed)
{
    const EncoderProfile profile = EncoderProfile::macOS();
    EXPECT_EQ(profile.h264, (VideoEncoder{QStringLiteral("h264_videotoolbox"), {QStringLiteral("-prio_speed"), QStringLiteral("true")}}));
    EXPECT_EQ(profile.hevc, (VideoEncoder{QStringLiteral("hevc_videotoolbox"), {QStringLiteral("-prio_speed"), QStringLiteral("true")}}));
    EXPECT_TRUE(profile.deviceOptions.isEmpty());
    EXPECT_TRUE(profile.uploadFilter.isEmpty());
    EXPECT_EQ(profile.encoder(EncoderStrategy::fastestH264).name, QStringLiteral("h264_videotoolbox"));
    EXPECT_EQ(profile.encoder(EncoderStrategy::speedHEVC).name, QStringLiteral("hevc_videotoolbox"));
}

TEST(EncoderCatalog, SoftwareStandInsAreX264AndQuietX265)
{
    const EncoderProfile profile = EncoderProfile::software();
    EXPECT_EQ(profile.h264.name, QStringLiteral("libx264"));
    EXPECT_EQ(profile.hevc.name, QStringLiteral("libx265"));
    EXPECT_TRUE(profile.hevc.speedOptions.join(QLatin1Char(' ')).contains(QStringLiteral("-x265-params log-level=error")));
    for (const auto &encoder : {profile.h264, profile.hevc}) {
        const qsizetype preset = encoder.speedOptions.indexOf(QStringLiteral("-preset"));
        ASSERT_GE(preset, 0);
        EXPECT_TRUE(QStringList({QStringLiteral("ultrafast"), QStringLiteral("superfast"), QStringLiteral("veryfast"),
                                 QStringLiteral("faster"), QStringLiteral("fast"), QStringLiteral("medium")})
                        .contains(encoder.speedOptions.value(preset + 1)))
            << encoder.speedOptions.join(QLatin1Char(' ')).toStdString();
    }
}

TEST(EncoderCatalog, TrialEncodesOneGeneratedFrame)
{
    const EncoderProfile nvenc = EncoderProfile::nvenc();
    EXPECT_EQ(strings(nvenc.trialArguments(nvenc.hevc)),
              (std::vector<std::string>{"-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
                                        "color=s=256x256:d=0.04", "-frames:v", "1", "-c:v", "hevc_nvenc", "-preset",
                                        "p1", "-f", "null", "-"}));
    const EncoderProfile vaapi = EncoderProfile::vaapi();
    EXPECT_EQ(strings(vaapi.trialArguments(vaapi.h264)),
              (std::vector<std::string>{"-hide_banner", "-loglevel", "error", "-nostdin", "-vaapi_device",
                                        "/dev/dri/renderD128", "-f", "lavfi", "-i", "color=s=256x256:d=0.04",
                                        "-frames:v", "1", "-vf", "format=nv12,hwupload", "-c:v", "h264_vaapi", "-f",
                                        "null", "-"}));
}

TEST(EncoderCatalog, HardwareFamiliesAreTriedInOrderOfPreference)
{
    const auto names = [](const std::vector<EncoderProfile> &profiles) {
        QStringList out;
        for (const auto &p : profiles) {
            out << p.family;
        }
        return out;
    };
    EXPECT_EQ(names(EncoderProfile::hardwareCandidates()),
              (QStringList{QStringLiteral("NVENC"), QStringLiteral("QSV"), QStringLiteral("VAAPI")}));
}

TEST(EncoderCatalog, FamiliesWhoseDeviceIsMissingAreNotTried)
{
    EXPECT_EQ(EncoderProfile::nvenc().deviceNode, QStringLiteral("/dev/nvidiactl"));
    EXPECT_EQ(EncoderProfile::vaapi().deviceNode, QStringLiteral("/dev/dri/renderD128"));
    EXPECT_TRUE(EncoderProfile::software().deviceNode.isEmpty());

    EncoderProfile missing = EncoderProfile::vaapi();
    missing.deviceNode = QStringLiteral("/nonexistent/renderD128");
    EncoderProfile present = EncoderProfile::nvenc();
    present.deviceNode = QStringLiteral("/dev/null");
    EncoderProfile unchecked = EncoderProfile::qsv();
    unchecked.deviceNode.clear();
    QStringList kept;
    for (const EncoderProfile &profile : EncoderProfile::withDevicePresent({missing, present, unchecked})) {
        kept << profile.family;
    }
    EXPECT_EQ(kept, (QStringList{QStringLiteral("NVENC"), QStringLiteral("QSV")}));
}

TEST(EncoderCatalog, FirstFamilyWhoseBothEncodersPassWins)
{
    const struct {
        QStringList accepted;
        const char *family;
        QStringList trials;
    } cases[] = {
        {{}, "software", {"h264_nvenc", "h264_qsv", "h264_vaapi"}},
        {{"h264_vaapi", "hevc_vaapi"}, "VAAPI", {"h264_nvenc", "h264_qsv", "h264_vaapi", "hevc_vaapi"}},
        // A family with only its H.264 encoder working is passed over.
        {{"h264_nvenc", "h264_qsv", "hevc_qsv"}, "QSV", {"h264_nvenc", "hevc_nvenc", "h264_qsv", "hevc_qsv"}},
        {{"h264_nvenc", "hevc_nvenc", "h264_qsv", "hevc_qsv"}, "NVENC", {"h264_nvenc", "hevc_nvenc"}},
        {{"hevc_nvenc", "hevc_qsv", "hevc_vaapi"}, "software", {"h264_nvenc", "h264_qsv", "h264_vaapi"}},
    };
    for (const auto &c : cases) {
        QTemporaryDir dir;
        EncoderCatalog catalog(ToolLocator({fakeTrials(dir, c.accepted)}));
        const EncoderProfile profile = test::wait(catalog.profile(std::chrono::seconds(30)));
        EXPECT_EQ(profile.family.toStdString(), c.family);
        EXPECT_EQ(calls(dir), c.trials) << c.family;
        ASSERT_TRUE(catalog.decision().has_value());
        EXPECT_EQ(*catalog.decision(), profile);
    }
}

TEST(EncoderCatalog, DecidesOnlyOnce)
{
    QTemporaryDir dir;
    EncoderCatalog catalog(ToolLocator({fakeTrials(dir, {QStringLiteral("h264_nvenc"), QStringLiteral("hevc_nvenc")})}));
    catalog.start();
    catalog.start();
    EXPECT_EQ(test::wait(catalog.profile(std::chrono::seconds(30))).family, QStringLiteral("NVENC"));
    EXPECT_EQ(test::wait(catalog.profile()).family, QStringLiteral("NVENC"));
    catalog.start();
    EXPECT_EQ(calls(dir).size(), 2);
}

TEST(EncoderCatalog, WithoutFFmpegTheStandInsAreDecidedAtOnce)
{
    QTemporaryDir dir;
    EncoderCatalog catalog(ToolLocator({dir.filePath(QStringLiteral("no-such-ffmpeg"))}));
    catalog.start();
    EXPECT_EQ(test::wait(catalog.profile(std::chrono::milliseconds(0))), EncoderProfile::software());
}

TEST(EncoderCatalog, LateTrialsGiveTheStandInsMeanwhile)
{
    QTemporaryDir dir;
    EncoderCatalog catalog(
        ToolLocator({fakeTrials(dir, {QStringLiteral("h264_nvenc"), QStringLiteral("hevc_nvenc")}, 3)}));
    // The first asker waits the default second, far less than the trials take.
    EXPECT_EQ(test::wait(catalog.profile()), EncoderProfile::software());
    EXPECT_FALSE(catalog.decision().has_value());
    ASSERT_TRUE(test::spinUntil([&] { return catalog.decision().has_value(); }));
    EXPECT_EQ(catalog.decision()->family, QStringLiteral("NVENC"));
    EXPECT_EQ(test::wait(catalog.profile(std::chrono::milliseconds(0))).family, QStringLiteral("NVENC"));
}

TEST(EncoderCatalog, FixedCatalogNeverRunsATrial)
{
    EncoderCatalog catalog(EncoderProfile::macOS());
    catalog.start();
    EXPECT_EQ(test::wait(catalog.profile(std::chrono::milliseconds(0))), EncoderProfile::macOS());
}

TEST(EncoderCatalog, SharedIsOnePerProcess)
{
    EXPECT_EQ(&EncoderCatalog::shared(), &EncoderCatalog::shared());
}

// Whatever this machine decides must actually encode with the real ffmpeg.
TEST(EncoderCatalog, DecisionOfThisMachineEncodes)
{
    const auto ffmpeg = ToolLocator::forTool(QStringLiteral("ffmpeg")).locate();
    ASSERT_TRUE(ffmpeg.has_value());
    EncoderCatalog catalog;
    const EncoderProfile profile = test::wait(catalog.profile(std::chrono::seconds(60)));
    ASSERT_TRUE(catalog.decision().has_value());
    for (const auto &encoder : {profile.h264, profile.hevc}) {
        const auto run = test::wait(ChildProcess::run(*ffmpeg, profile.trialArguments(encoder)));
        ASSERT_TRUE(run.has_value());
        EXPECT_EQ(run->exitCode, 0) << profile.family.toStdString() << " " << encoder.name.toStdString() << ": "
                                    << run->standardError.toStdString();
    }
}

// The stand-ins write nothing on standard error when all is well, so any
// error text a user sees is a real failure.
TEST(EncoderCatalog, StandInsAreSilentOnSuccess)
{
    const auto ffmpeg = ToolLocator::forTool(QStringLiteral("ffmpeg")).locate();
    ASSERT_TRUE(ffmpeg.has_value());
    QTemporaryDir dir;
    VideoInfo info;
    info.url = QUrl::fromLocalFile(test::media(QStringLiteral("h264_aac.mp4")));
    info.height = 360;
    info.frameRate = 25;
    info.videoBitrate = 3'000'000;
    info.canCopyAudioToMP4 = true;
    for (const auto plan : {CompressionPlan::fastest, CompressionPlan::recommended}) {
        const QString output = dir.filePath(rawValue(plan) + QStringLiteral(".mp4"));
        const QStringList arguments =
            FFmpegCompressor::makeArguments(info, {CompressionMode::quality, plan, 25}, QUrl::fromLocalFile(output),
                                            TimeRange{0.0, 1.0}, EncoderProfile::software());
        const auto run = test::wait(ChildProcess::run(*ffmpeg, arguments));
        ASSERT_TRUE(run.has_value());
        EXPECT_EQ(run->exitCode, 0) << run->standardError.toStdString();
        EXPECT_EQ(run->standardError.toStdString(), "") << rawValue(plan).toStdString();
        EXPECT_TRUE(QFile::exists(output));
    }
}
