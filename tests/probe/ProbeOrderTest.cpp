#include "probe/FakeFFprobe.h"
#include "probe/VideoProbeError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace slimreel;

namespace {

// The service with the native attempt replaced by a fixed answer; ffprobe is
// the fake, so both sides are known and it shows which of them ran.
class ScriptedNative final : public VideoProbeService {
public:
    ScriptedNative(const test::FakeFFprobe &fake, Result<VideoInfo> native, Order order)
        : VideoProbeService(fake.locator(), order)
        , m_native(std::move(native))
    {
    }

    QCoro::Task<Result<VideoInfo>> inspectNatively(QUrl) const override
    {
        ++nativeCalls;
        co_return m_native;
    }

    mutable int nativeCalls = 0;

private:
    Result<VideoInfo> m_native;
};

const QByteArray readableJson = R"({"streams":[{"codec_type":"video","codec_name":"vp9"}],"format":{"duration":"7"}})";

VideoInfo nativeInfo(const QUrl &url)
{
    return VideoInfo{url, 3, 1080, 1920, 100, 1e6, 30, QStringLiteral("H.264"), 1, 128000, true};
}

} // namespace

TEST(ProbeOrder, NativeSuccessIsTheResultAndFFprobeNeverRuns)
{
    const test::FakeFFprobe fake(readableJson);
    const QUrl url = fake.missingFile();
    const ScriptedNative service(fake, nativeInfo(url), VideoProbeService::Order::nativeThenFFprobe);
    const auto info = test::wait(service.inspect(url));
    ASSERT_TRUE(info);
    EXPECT_EQ(*info, nativeInfo(url));
    EXPECT_FALSE(fake.ran());
}

TEST(ProbeOrder, FFprobeResultWhenNativeFails)
{
    const test::FakeFFprobe fake(readableJson);
    const QUrl url = fake.missingFile();
    const ScriptedNative service(fake, std::unexpected(Error::platform(QStringLiteral("no decoder"))),
                                 VideoProbeService::Order::nativeThenFFprobe);
    const auto info = test::wait(service.inspect(url));
    ASSERT_TRUE(info) << info.error().description().toStdString();
    EXPECT_EQ(info->codec, QStringLiteral("VP9"));
    EXPECT_EQ(info->duration, 7);
    EXPECT_EQ(service.nativeCalls, 1);
}

TEST(ProbeOrder, NativeErrorWhenBothFail)
{
    const struct {
        QByteArray ffprobeOutput;
        int ffprobeExit;
    } ffprobeFailures[] = {{readableJson, 1}, {"not json", 0}, {R"({"streams":[]})", 0}};
    const Error nativeErrors[] = {makeError(VideoProbeError::missingVideoTrack),
                                  makeError(VideoProbeError::unreadable), Error::platform(QStringLiteral("boom"))};
    for (const auto &failure : ffprobeFailures) {
        for (const Error &nativeError : nativeErrors) {
            const test::FakeFFprobe fake(failure.ffprobeOutput, failure.ffprobeExit);
            const ScriptedNative service(fake, std::unexpected(nativeError),
                                         VideoProbeService::Order::nativeThenFFprobe);
            const auto info = test::wait(service.inspect(fake.missingFile()));
            ASSERT_FALSE(info);
            EXPECT_EQ(info.error(), nativeError) << failure.ffprobeOutput.toStdString();
            EXPECT_TRUE(fake.ran());
        }
    }
}

TEST(ProbeOrder, PinnedOrdersUseOneSideOnly)
{
    const test::FakeFFprobe fake(readableJson);
    const QUrl url = fake.missingFile();

    const ScriptedNative ffprobeOnly(fake, nativeInfo(url), VideoProbeService::Order::ffprobeOnly);
    const auto viaFFprobe = test::wait(ffprobeOnly.inspect(url));
    ASSERT_TRUE(viaFFprobe);
    EXPECT_EQ(viaFFprobe->codec, QStringLiteral("VP9"));
    EXPECT_EQ(ffprobeOnly.nativeCalls, 0);

    const test::FakeFFprobe untouched(readableJson);
    const ScriptedNative nativeOnly(untouched, std::unexpected(makeError(VideoProbeError::unreadable)),
                                    VideoProbeService::Order::nativeOnly);
    const auto viaNative = test::wait(nativeOnly.inspect(url));
    ASSERT_FALSE(viaNative);
    EXPECT_TRUE(isError(viaNative.error(), VideoProbeError::unreadable));
    EXPECT_FALSE(untouched.ran());
}
