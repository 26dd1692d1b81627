#include "compress/EncoderCatalog.h"

#include "platform/ChildProcess.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QScopeGuard>

#include <QCoroSignal>
#include <QPointer>
#include <QTimer>

namespace slimreel {

namespace {

// A trial that hangs (a wedged driver) counts as a failure after this long.
constexpr std::chrono::seconds trialLimit{15};

} // namespace

const VideoEncoder &EncoderProfile::encoder(EncoderStrategy strategy) const
{
    switch (strategy) {
    case EncoderStrategy::speedHEVC:
        return hevc;
    case EncoderStrategy::smallestAV1:
        return av1;
    default:
        return h264;
    }
}

QStringList EncoderProfile::trialArguments(const VideoEncoder &encoder) const
{
    QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                          QStringLiteral("-nostdin")};
    arguments << deviceOptions;
    arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
              << QStringLiteral("color=s=256x256:d=0.04") << QStringLiteral("-frames:v") << QStringLiteral("1");
    if (!uploadFilter.isEmpty()) {
        arguments << QStringLiteral("-vf") << uploadFilter;
    }
    arguments << QStringLiteral("-c:v") << encoder.name << encoder.speedOptions;
    arguments << QStringLiteral("-f") << QStringLiteral("null") << QStringLiteral("-");
    return arguments;
}

EncoderProfile EncoderProfile::macOS()
{
    const QStringList prioSpeed{QStringLiteral("-prio_speed"), QStringLiteral("true")};
    return {QStringLiteral("VideoToolbox"),
            {QStringLiteral("h264_videotoolbox"), prioSpeed},
            {QStringLiteral("hevc_videotoolbox"), prioSpeed},
            {},
            {},
            {},
            {}}; // VideoToolbox has no AV1 encoder: SVT-AV1 serves there too
}

EncoderProfile EncoderProfile::nvenc()
{
    // p1 is NVENC's "favour speed" end, as -prio_speed is for VideoToolbox.
    const QStringList preset{QStringLiteral("-preset"), QStringLiteral("p1")};
    // AV1 at constant quality: -b:v 0 leaves the rate to the quality value,
    // under the ceiling the argument list adds. Not measured: no such card here.
    return {QStringLiteral("NVENC"), {QStringLiteral("h264_nvenc"), preset}, {QStringLiteral("hevc_nvenc"), preset}, {}, {},
            QStringLiteral("/dev/nvidiactl"),
            {QStringLiteral("av1_nvenc"), {QStringLiteral("-preset"), QStringLiteral("p5"), QStringLiteral("-rc"),
                                           QStringLiteral("vbr"), QStringLiteral("-cq"), QStringLiteral("34"),
                                           QStringLiteral("-b:v"), QStringLiteral("0")}}};
}

EncoderProfile EncoderProfile::qsv()
{
    const QStringList preset{QStringLiteral("-preset"), QStringLiteral("veryfast")};
    // A quality value without a bit rate makes QSV's intelligent constant quality.
    return {QStringLiteral("QSV"), {QStringLiteral("h264_qsv"), preset}, {QStringLiteral("hevc_qsv"), preset}, {}, {},
            QStringLiteral("/dev/dri"),
            {QStringLiteral("av1_qsv"), {QStringLiteral("-preset"), QStringLiteral("medium"),
                                         QStringLiteral("-global_quality"), QStringLiteral("30")}}};
}

EncoderProfile EncoderProfile::vaapi()
{
    // VAAPI encodes only frames in device memory, so they are uploaded at the
    // end of the filter chain. Its speed knob means something different on every
    // driver, so the driver's default stays.
    return {QStringLiteral("VAAPI"),
            {QStringLiteral("h264_vaapi"), {}},
            {QStringLiteral("hevc_vaapi"), {}},
            {QStringLiteral("-vaapi_device"), QStringLiteral("/dev/dri/renderD128")},
            QStringLiteral("format=nv12,hwupload"),
            QStringLiteral("/dev/dri/renderD128"),
            {QStringLiteral("av1_vaapi"), {QStringLiteral("-rc_mode"), QStringLiteral("ICQ"),
                                           QStringLiteral("-global_quality"), QStringLiteral("30")}}};
}

// Software stand-ins. Presets measured with bench/encoder-presets/run on this
// 2-core machine (results.md beside it: 10 s clips at the plans' bit rates;
// speed = real time estimated from CPU time, which a busy machine distorts
// far less than wall time; SSIM at the output's size):
//
//   plan (encoder)         source  preset     speed  SSIM
//   fastest (libx264)      1080p   ultrafast  2.77x  0.9105
//     output 720p                  superfast  2.10x  0.9264  <- chosen
//                                  veryfast   1.38x  0.9440
//                          720p    ultrafast  6.42x  0.9091
//                                  superfast  3.94x  0.9279  <- chosen
//                                  veryfast   2.29x  0.9502
//   recommended (libx265)  1080p   ultrafast  0.68x  0.9045
//                                  superfast  0.50x  0.9496  <- chosen
//                                  veryfast   0.33x  0.9606
//                          720p    ultrafast  1.47x  0.9045
//                                  superfast  0.97x  0.9513  <- chosen
//                                  veryfast   0.73x  0.9627
//
// Fastest plan, speed first: ultrafast gives up CABAC and B-frames and it shows
// (SSIM 0.91); superfast buys the largest SSIM step per CPU second and still
// runs 1.5-1.7x quicker than veryfast. Recommended plan: superfast has the best
// SSIM per extra CPU second of the presets above ultrafast and is the only one
// that keeps 720p at about real time; no preset reaches real time at 1080p on
// two cores. The smallest plan's SVT-AV1, measured on the first 4 s of each
// bench clip beside the other plans (bench/encoder-presets/av1): preset 12
// fell 0.02 of SSIM below the recommended plan on high motion, preset 10 only
// 0.008, at 80 % of the recommended plan's CPU time. At preset 10, crf 34 bought
// 0.0004-0.002 of SSIM for 12-60 % more bytes; crf 40 fell 0.0104 below on the
// portrait clip, crf 38 0.0096 (passthrough timing, as the app encodes).
// Left to itself SVT-AV1 runs a quarter over its ceiling on noise and film grain,
// past the fastest plan's size; held to it (mbr-overshoot-pct=0) preset 10 fell
// 0.03 of SSIM under the recommended plan on noise; preset 9 stayed 0.016 above it
// there and 0.007 under it on grain, at 1.3-1.4x preset 10's CPU (whole 10 s clips).
// libx265 prints a banner on stderr unless told otherwise, and stderr
// must stay empty on success. Both force 8-bit 4:2:0 as a hardware encoder
// would, so a 4:4:4 or 10-bit source still gives a file every player opens.
EncoderProfile EncoderProfile::software()
{
    const QStringList yuv420p{QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p")};
    return {QStringLiteral("software"),
            {QStringLiteral("libx264"), QStringList{QStringLiteral("-preset"), QStringLiteral("superfast")} + yuv420p},
            {QStringLiteral("libx265"), QStringList{QStringLiteral("-preset"), QStringLiteral("superfast"),
                                                    QStringLiteral("-x265-params"), QStringLiteral("log-level=error")}
                                            + yuv420p},
            {},
            {},
            {},
            {QStringLiteral("libsvtav1"), QStringList{QStringLiteral("-preset"), QStringLiteral("9"),
                                                      QStringLiteral("-crf"), QStringLiteral("38"),
                                                      QStringLiteral("-svtav1-params"),
                                                      QStringLiteral("mbr-overshoot-pct=0")}
                                              + yuv420p}};
}

std::vector<EncoderProfile> EncoderProfile::hardwareCandidates()
{
#if defined(Q_OS_MACOS)
    return {macOS()};
#else
    return {nvenc(), qsv(), vaapi()};
#endif
}

std::vector<EncoderProfile> EncoderProfile::withDevicePresent(std::vector<EncoderProfile> candidates)
{
    std::erase_if(candidates, [](const EncoderProfile &profile) {
        return !profile.deviceNode.isEmpty() && !QFileInfo::exists(profile.deviceNode);
    });
    return candidates;
}

EncoderCatalog::EncoderCatalog(ToolLocator ffmpeg, std::vector<EncoderProfile> candidates, QObject *parent)
    : QObject(parent)
    , m_ffmpeg(std::move(ffmpeg))
    , m_candidates(std::move(candidates))
{
}

EncoderCatalog::EncoderCatalog(EncoderProfile fixed, QObject *parent)
    : QObject(parent)
    , m_ffmpeg(QStringList{})
    , m_started(true)
    , m_decision(fixed)
    , m_av1Decision(fixed.av1.name.isEmpty() ? EncoderProfile::software() : std::move(fixed))
{
}

namespace {
EncoderCatalog *sharedCatalog = nullptr;

// Runs while the application object is destroyed: a trial still running then
// would outlive the program as an orphan.
void stopSharedTrials()
{
    if (sharedCatalog != nullptr) {
        sharedCatalog->stopTrials();
    }
}
} // namespace

EncoderCatalog &EncoderCatalog::shared()
{
    // Never destroyed: a trial's coroutine may still be suspended while the program exits.
    static auto *catalog = [] {
        sharedCatalog = new EncoderCatalog(ToolLocator::forTool(QStringLiteral("ffmpeg")),
                                           EncoderProfile::withDevicePresent(EncoderProfile::hardwareCandidates()));
        qAddPostRoutine(stopSharedTrials);
        return sharedCatalog;
    }();
    return *catalog;
}

void EncoderCatalog::stopTrials()
{
    for (const QPointer<ChildProcess> &trial : std::exchange(m_trials, {})) {
        if (trial) {
            trial->kill();
        }
    }
}

void EncoderCatalog::start()
{
    if (m_started) {
        return;
    }
    m_started = true;
    // Runs on by itself; the task handle is not needed.
    [[maybe_unused]] auto running = decide();
}

QCoro::Task<EncoderProfile> EncoderCatalog::profile(std::chrono::milliseconds maxWait)
{
    start();
    if (!m_decision) {
        co_await qCoro(this, &EncoderCatalog::decided, maxWait);
    }
    co_return m_decision.value_or(EncoderProfile::software());
}

QCoro::Task<EncoderProfile> EncoderCatalog::av1Profile(std::chrono::milliseconds maxWait)
{
    start();
    if (!m_av1Decision) {
        co_await qCoro(this, &EncoderCatalog::av1Decided, maxWait);
    }
    co_return m_av1Decision.value_or(EncoderProfile::software());
}

QCoro::Task<void> EncoderCatalog::decide()
{
    const QPointer<EncoderCatalog> self(this);
    const std::optional<QString> ffmpeg = m_ffmpeg.locate();
    const std::vector<EncoderProfile> candidates = ffmpeg ? m_candidates : std::vector<EncoderProfile>{};
    EncoderProfile chosen = EncoderProfile::software();
    for (const EncoderProfile &candidate : candidates) {
        const bool h264 = co_await passesTrial(*ffmpeg, candidate.trialArguments(candidate.h264));
        const bool both = h264 && co_await passesTrial(*ffmpeg, candidate.trialArguments(candidate.hevc));
        if (!self) {
            co_return;
        }
        if (both) {
            chosen = candidate;
            break;
        }
    }
    m_decision = chosen;
    Q_EMIT decided();
    if (!self) {
        co_return;
    }

    // After the fast plans' decision, so that their first encode never waits for these.
    EncoderProfile av1 = EncoderProfile::software();
    for (const EncoderProfile &candidate : candidates) {
        if (candidate.av1.name.isEmpty()) {
            continue;
        }
        const bool passed = co_await passesTrial(*ffmpeg, candidate.trialArguments(candidate.av1));
        if (!self) {
            co_return;
        }
        if (passed) {
            av1 = candidate;
            break;
        }
    }
    m_av1Decision = av1;
    Q_EMIT av1Decided();
}

QCoro::Task<bool> EncoderCatalog::passesTrial(QString ffmpeg, QStringList arguments)
{
    ChildProcess child(std::move(ffmpeg), std::move(arguments));
    m_trials.append(&child);
    const auto forget = qScopeGuard([this, &child] { m_trials.removeAll(&child); });
    if (!co_await child.launch()) {
        co_return false;
    }
    QTimer::singleShot(trialLimit, &child, [&child] { child.terminate(); });
    co_await child.waitForExit();
    co_return child.exitCode() == 0;
}

} // namespace slimreel
