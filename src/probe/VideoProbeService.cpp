#include "probe/VideoProbeService.h"

#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/MediaFramework.h"
#include "probe/CodecNames.h"
#include "probe/FFprobeRecords.h"
#include "probe/TextNumbers.h"
#include "probe/VideoProbeError.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace slimreel {

namespace {

// Assumed rate of an audio stream that does not state its own.
constexpr double assumedAudioBitrate = 128'000;

const QString videoType = QStringLiteral("video");
const QString audioType = QStringLiteral("audio");

// The plain path handed to ffprobe. A relative path is made absolute so that a
// name beginning with "-" can never be read as an option.
QString toolPath(const QUrl &url)
{
    const QString path = url.toLocalFile();
    return QFileInfo(path).isAbsolute() ? path : QFileInfo(path).absoluteFilePath();
}

// Runs ffprobe on a local file (its path last) and decodes what it printed.
// A missing ffprobe or a failed run is `unreadable`. Standard error is
// drained by ChildProcess and never read: ffprobe's messages are not shown.
template <typename Response>
QCoro::Task<Result<Response>> runFFprobe(std::optional<QString> program, QStringList arguments, QUrl url,
                                         std::stop_token stop)
{
    if (!program || !url.isLocalFile()) {
        co_return std::unexpected(makeError(VideoProbeError::unreadable));
    }
    arguments << toolPath(url);
    auto output = co_await ChildProcess::run(*program, std::move(arguments), std::move(stop));
    if (!output) {
        co_return std::unexpected(output.error());
    }
    if (!output->succeeded()) {
        co_return std::unexpected(makeError(VideoProbeError::unreadable));
    }
    co_return Response::decode(output->standardOutput);
}

// ffprobe's sizes of a real sample stay far from the 64-bit range, but its
// output is still outside input: a sum saturates rather than overflow.
std::int64_t addSaturating(std::int64_t sum, std::int64_t value)
{
    std::int64_t result = 0;
    if (__builtin_add_overflow(sum, value, &result)) {
        return value > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return result;
}

bool hasType(const FFprobeStream &stream, const QString &type)
{
    return stream.codecType == type;
}

Result<VideoInfo> videoInfoFrom(const FFprobeResponse &response, const QUrl &url, const QString &path)
{
    const auto &streams = response.streams;
    const auto video = std::ranges::find_if(streams, [](const auto &s) { return hasType(s, videoType); });
    if (video == streams.end()) {
        return std::unexpected(makeError(VideoProbeError::missingVideoTrack));
    }
    const FFprobeFormat format = response.format.value_or(FFprobeFormat{});

    // The container's duration wins even when it reads as zero; the stream's
    // is only a stand-in for a container that states none. An infinite
    // duration is as useless as none: nothing could be computed from it.
    const auto duration = TextNumbers::decimal(format.duration).or_else([&] {
        return TextNumbers::decimal(video->duration);
    });
    if (!duration || !(*duration > 0) || !std::isfinite(*duration)) {
        return std::unexpected(makeError(VideoProbeError::unreadable));
    }

    // The file system knows the size best; ffprobe's figure is the fallback.
    const auto measured = Files::fileSize(path);
    const std::int64_t fileSize = measured ? *measured : TextNumbers::integer(format.size).value_or(0);

    const double totalBitrate = TextNumbers::decimal(format.bitRate).value_or(0);
    std::vector<const FFprobeStream *> audio;
    for (const FFprobeStream &stream : streams) {
        if (hasType(stream, audioType)) {
            audio.push_back(&stream);
        }
    }
    const bool hasAudio = !audio.empty();

    // Without a rate of its own, the video gets the total less a typical audio
    // stream's share. Written as a comparison so that NaN also ends at 0.
    const double videoBitrate = TextNumbers::decimal(video->bitRate).value_or([&] {
        const double rest = hasAudio ? totalBitrate - assumedAudioBitrate : totalBitrate;
        return rest > 0 ? rest : 0.0;
    }());

    std::int64_t audioTrackCount = 0;
    double audioBitrate = 0;
    bool allAAC = hasAudio;
    for (const FFprobeStream *stream : audio) {
        ++audioTrackCount;
        audioBitrate += TextNumbers::decimal(stream->bitRate).value_or(assumedAudioBitrate);
        allAAC = allAAC && stream->codecName && stream->codecName->toLower() == QLatin1String("aac");
    }

    VideoInfo info;
    info.url = url;
    info.duration = *duration;
    info.width = video->width.value_or(0);
    info.height = video->height.value_or(0);
    info.fileSize = fileSize;
    info.videoBitrate = videoBitrate;
    info.frameRate = VideoProbeService::parseFrameRate(video->averageFrameRate);
    info.codec = VideoProbeService::displayCodec(video->codecName);
    info.audioTrackCount = audioTrackCount;
    info.audioBitrate = audioBitrate;
    info.canCopyAudioToMP4 = allAAC;
    return info;
}

// The framework's reasons, in the words the user reads.
Error probeError(const MediaFramework::Failure &failure)
{
    switch (failure.kind) {
    case MediaFramework::Failure::Kind::noVideoStream:
        return makeError(VideoProbeError::missingVideoTrack);
    case MediaFramework::Failure::Kind::fileSystem:
        return failure.fileError;
    case MediaFramework::Failure::Kind::unreadable:
        break;
    }
    return makeError(VideoProbeError::unreadable);
}

VideoInfo videoInfoFrom(const MediaFramework::Description &found)
{
    // Only AAC goes into MP4 as it is; every track must be AAC for a copy.
    const bool allAAC = std::ranges::all_of(found.audioSubTypes, [](const auto &code) {
        return code && CodecNames::fourCC(*code).toLower() == QLatin1String("mp4a");
    });
    VideoInfo info;
    info.url = found.url;
    info.duration = found.duration;
    info.width = found.width;
    info.height = found.height;
    info.fileSize = found.fileSize;
    info.videoBitrate = found.videoBitrate;
    info.frameRate = found.frameRate;
    info.codec = CodecNames::codecName(found.videoSubType);
    info.audioTrackCount = found.audioTrackCount;
    info.audioBitrate = found.audioBitrate;
    info.canCopyAudioToMP4 = found.audioTrackCount > 0 && allAAC;
    return info;
}

} // namespace

VideoProbeService::VideoProbeService()
    : VideoProbeService(ToolLocator::forTool(QStringLiteral("ffprobe")))
{
}

VideoProbeService::VideoProbeService(ToolLocator ffprobe, Order order)
    : m_ffprobe(std::move(ffprobe))
    , m_order(order)
{
}

QCoro::Task<Result<VideoInfo>> VideoProbeService::inspect(QUrl url, std::stop_token stop) const
{
    // Only a regular file is ever opened: a named pipe would hold the framework
    // (and ffprobe) in open() for ever, and no stop can reach it there.
    if (const QFileInfo file(url.toLocalFile()); url.isLocalFile() && file.exists() && !file.isFile()) {
        co_return std::unexpected(makeError(VideoProbeError::unreadable));
    }
    switch (m_order) {
    case Order::ffprobeOnly:
        co_return co_await inspectWithFFprobe(std::move(url), std::move(stop));
    case Order::nativeOnly:
        co_return co_await inspectNatively(std::move(url));
    case Order::nativeThenFFprobe:
        break;
    }
    auto native = co_await inspectNatively(url);
    if (native) {
        co_return native;
    }
    // Whatever ffprobe says about a file the framework could not read, the
    // framework's own reason is the one the user sees; unless the caller gave
    // up meanwhile, which it must be told.
    auto fallback = co_await inspectWithFFprobe(std::move(url), stop);
    if (fallback || stop.stop_requested()) {
        co_return fallback;
    }
    co_return native;
}

QCoro::Task<Result<VideoInfo>> VideoProbeService::inspectNatively(QUrl url) const
{
    const auto found = co_await MediaFramework::inspect(std::move(url));
    if (!found) {
        co_return std::unexpected(probeError(found.error()));
    }
    co_return videoInfoFrom(*found);
}

QCoro::Task<Result<VideoInfo>> VideoProbeService::inspectWithFFprobe(QUrl url, std::stop_token stop) const
{
    // Built before the co_await: GCC 12 miscompiles QStringLiteral inside one.
    QStringList arguments{QStringLiteral("-v"),           QStringLiteral("error"), QStringLiteral("-show_streams"),
                          QStringLiteral("-show_format"), QStringLiteral("-of"),   QStringLiteral("json")};
    const auto response =
        co_await runFFprobe<FFprobeResponse>(ffprobeURL(), std::move(arguments), url, std::move(stop));
    if (!response) {
        co_return std::unexpected(response.error());
    }
    co_return videoInfoFrom(*response, url, toolPath(url));
}

QCoro::Task<Result<PreviewPacketStats>> VideoProbeService::packetStats(QUrl url, std::stop_token stop,
                                                                       std::optional<double> shownBefore) const
{
    QStringList arguments{QStringLiteral("-v"),
                          QStringLiteral("error"),
                          QStringLiteral("-show_packets"),
                          QStringLiteral("-show_entries"),
                          QStringLiteral("packet=stream_index,size,flags,pts_time"),
                          QStringLiteral("-of"),
                          QStringLiteral("json")};
    const auto response =
        co_await runFFprobe<FFprobePacketResponse>(ffprobeURL(), std::move(arguments), url, std::move(stop));
    if (!response) {
        co_return std::unexpected(response.error());
    }
    // Stream 0 is the sample's video: that is how the compressor writes it.
    const auto shownAt = [](const FFprobePacket &packet) { return TextNumbers::decimal(packet.ptsTime); };
    std::optional<double> first;
    if (shownBefore) {
        for (const FFprobePacket &packet : response->packets) {
            const auto at = shownAt(packet);
            if (packet.streamIndex == 0 && at && (!first || *at < *first)) {
                first = at;
            }
        }
    }
    PreviewPacketStats stats;
    for (const FFprobePacket &packet : response->packets) {
        if (packet.streamIndex != 0) {
            continue;
        }
        // A packet without a time counts: it cannot be shown to lie beyond.
        if (const auto at = shownAt(packet); shownBefore && first && at && *at - *first >= *shownBefore) {
            continue;
        }
        const std::int64_t size = TextNumbers::integer(packet.size).value_or(0);
        if (packet.flags && packet.flags->contains(u'K')) {
            stats.keyFrameBytes = addSaturating(stats.keyFrameBytes, size);
            stats.keyFrameCount += 1;
        } else {
            stats.interFrameBytes = addSaturating(stats.interFrameBytes, size);
        }
    }
    co_return stats;
}

namespace {

// One "time,size" line a packet; a packet without a time stamp says nothing of where its bytes go.
struct SecondsResponse {
    std::vector<std::int64_t> seconds;

    static Result<SecondsResponse> decode(const QByteArray &output)
    {
        SecondsResponse response;
        for (const QByteArray &line : output.split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(',');
            bool timed = false;
            bool sized = false;
            const double time = fields.size() >= 2 ? fields[0].toDouble(&timed) : 0;
            const std::int64_t size = fields.size() >= 2 ? fields[1].toLongLong(&sized) : 0;
            // A time beyond days of video is noise, not a second to make room for.
            if (!timed || !sized || !(time >= 0) || time > 1e6 || size < 0) {
                continue;
            }
            const auto second = static_cast<std::size_t>(time);
            if (second >= response.seconds.size()) {
                response.seconds.resize(second + 1, 0);
            }
            response.seconds[second] = addSaturating(response.seconds[second], size);
        }
        return response;
    }
};

} // namespace

QCoro::Task<Result<std::vector<std::int64_t>>> VideoProbeService::videoBytesPerSecond(QUrl url,
                                                                                      std::stop_token stop) const
{
    QStringList arguments{QStringLiteral("-v"),           QStringLiteral("error"),
                          QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                          QStringLiteral("-show_entries"), QStringLiteral("packet=pts_time,size"),
                          QStringLiteral("-of"),           QStringLiteral("csv=p=0")};
    auto response = co_await runFFprobe<SecondsResponse>(ffprobeURL(), std::move(arguments), url, std::move(stop));
    if (!response) {
        co_return std::unexpected(response.error());
    }
    co_return std::move(response->seconds);
}

double VideoProbeService::parseFrameRate(const std::optional<QString> &text)
{
    if (!text) {
        return 0;
    }
    std::vector<double> values;
    for (const QStringView piece : QStringView(*text).split(u'/', Qt::SkipEmptyParts)) {
        if (const auto value = TextNumbers::decimal(piece)) {
            values.push_back(*value);
        }
    }
    if (values.size() == 2 && values[1] != 0) {
        return values[0] / values[1];
    }
    return TextNumbers::decimal(text).value_or(0);
}

QString VideoProbeService::displayCodec(const std::optional<QString> &codecName)
{
    return CodecNames::displayCodec(codecName);
}

} // namespace slimreel
