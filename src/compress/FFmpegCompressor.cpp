#include "compress/FFmpegCompressor.h"

#include "compress/CompressionError.h"
#include "model/Numbers.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QUuid>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

namespace slimreel {

namespace {

const QString passDirectoryPrefix = QStringLiteral("Slimreel-pass-");
const QString progressKey = QStringLiteral("out_time_ms=");
constexpr double progressCap = 0.99;
constexpr double shortestDivisor = 0.1;
constexpr qsizetype failureLineCount = 4;

QString filePath(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.path();
}

QString decimal(std::int64_t value)
{
    return QString::number(value);
}

std::int64_t doubled(std::int64_t value)
{
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    if (value > max / 2) {
        return max;
    }
    if (value < min / 2) {
        return min;
    }
    return value * 2;
}

// The fast plans in quality mode run on the profile's encoders; everything
// else is x264.
bool usesProfileEncoder(const CompressionSettings &settings)
{
    return settings.mode == CompressionMode::quality && settings.encoderStrategy() != EncoderStrategy::qualityX264;
}

QStringList head(const VideoInfo &info, const std::optional<TimeRange> &range, const QStringList &deviceOptions)
{
    QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                          QStringLiteral("-nostdin"), QStringLiteral("-y")};
    arguments << deviceOptions;
    if (range) {
        arguments << QStringLiteral("-ss") << FFmpegCompressor::timeText(range->start);
    }
    arguments << QStringLiteral("-i") << filePath(info.url);
    // Without it ffmpeg drops the recording date (creation_time) of the
    // container and the streams, and photo libraries sort by that date.
    arguments << QStringLiteral("-map_metadata") << QStringLiteral("0");
    if (range) {
        arguments << QStringLiteral("-t") << FFmpegCompressor::timeText(range->length());
    }
    return arguments;
}

// "-vf" with the height cap (when the source is taller) or an even-size scale
// (for odd-sized sources), then the profile's upload filter; nothing when none applies.
QStringList videoFilter(const VideoInfo &info, const CompressionSettings &settings, const QString &uploadFilter)
{
    QStringList filters;
    if (const auto cap = settings.outputMaxHeight(); cap && *cap < info.height) {
        filters << QStringLiteral("scale=-2:'min(ih,%1)'").arg(*cap);
    } else if (info.width % 2 != 0 || info.height % 2 != 0) {
        // 4:2:0 output needs even sides; without this an odd-sized source
        // cannot be compressed at all. Drops at most one row and column.
        filters << QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2");
    }
    if (!uploadFilter.isEmpty()) {
        filters << uploadFilter;
    }
    if (filters.isEmpty()) {
        return {};
    }
    return {QStringLiteral("-vf"), filters.join(QLatin1Char(','))};
}

QStringList outputTail(const QString &path)
{
    return {QStringLiteral("-movflags"), QStringLiteral("+faststart"), QStringLiteral("-progress"),
            QStringLiteral("pipe:1"),    QStringLiteral("-nostats"),    path};
}

// The text subtitle tracks, as MP4 text with their language; a sample leaves them out.
QStringList subtitleMaps(const SourceStreams &streams, const std::optional<TimeRange> &range)
{
    QStringList arguments;
    if (!range) {
        for (const std::int64_t index : streams.textSubtitles) {
            arguments << QStringLiteral("-map") << QStringLiteral("0:%1").arg(index);
        }
    }
    return arguments;
}

QStringList subtitleCodec(const SourceStreams &streams, const std::optional<TimeRange> &range)
{
    if (range || streams.textSubtitles.isEmpty()) {
        return {};
    }
    return {QStringLiteral("-c:s"), QStringLiteral("mov_text")};
}

QStringList aacAudio()
{
    return {QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"), QStringLiteral("128k")};
}

// The completion fraction of one "out_time_ms=" line; none for other lines and
// for values that are not numbers (N/A before the first frame).
std::optional<double> progressFraction(const QString &line, double divisor)
{
    if (!line.startsWith(progressKey)) {
        return std::nullopt;
    }
    const QByteArray text = line.mid(progressKey.size()).toUtf8();
    double microseconds = 0;
    const char *end = text.constData() + text.size();
    const auto [stop, error] = std::from_chars(text.constData(), end, microseconds);
    if (text.isEmpty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    const double fraction = microseconds / 1'000'000 / divisor;
    return std::isnan(fraction) || fraction > progressCap ? progressCap : fraction;
}

// `exitCode` is -1 when the tool died of a signal.
QString failureMessage(const QByteArray &standardError, int exitCode)
{
    const QString text = QString::fromUtf8(standardError);
    if (text.contains(QStringLiteral("unknown encoder 'libx264'"), Qt::CaseInsensitive)) {
        return QStringLiteral("当前 FFmpeg 未包含 libx264，无法使用高质量或指定大小模式。");
    }
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // SVT-AV1 writes its banner past -loglevel; ffmpeg's own words are what tell.
    lines.removeIf([](const QString &line) { return line.startsWith(QLatin1String("Svt[")); });
    const QString tail = lines.mid(std::max<qsizetype>(0, lines.size() - failureLineCount)).join(QLatin1Char('\n'));
    if (!tail.trimmed().isEmpty()) {
        return tail;
    }
    // A tool killed outright (or one that fails silently) leaves no words of
    // its own; the user still has to be told something.
    return exitCode < 0 ? QStringLiteral("FFmpeg 意外终止")
                        : QStringLiteral("FFmpeg 异常退出（退出码 %1）").arg(exitCode);
}

void report(const ProgressCallback &progress, double value)
{
    if (progress) {
        progress(value);
    }
}

// Removes the two-pass statistics folder on every way out of a compression.
struct TreeRemoval {
    QString path;
    ~TreeRemoval() { Files::removeTree(path); }
};

} // namespace

SourceStreams SourceStreams::fromProbeLines(const QStringList &lines)
{
    // MP4 keeps text subtitles as mov_text; pictures (PGS, DVD) it cannot hold.
    static const QStringList textCodecs{QStringLiteral("subrip"), QStringLiteral("srt"),   QStringLiteral("ass"),
                                        QStringLiteral("ssa"),    QStringLiteral("webvtt"), QStringLiteral("mov_text"),
                                        QStringLiteral("text")};
    SourceStreams streams;
    bool firstVideo = true;
    for (const QString &line : lines) {
        QHash<QString, QString> fields;
        for (const QString &pair : line.trimmed().split(QLatin1Char('|'))) {
            const qsizetype equals = pair.indexOf(QLatin1Char('='));
            if (equals > 0) {
                fields.insert(pair.left(equals), pair.mid(equals + 1));
            }
        }
        bool numbered = false;
        const std::int64_t index = fields.value(QStringLiteral("index")).toLongLong(&numbered);
        const QString type = fields.value(QStringLiteral("codec_type"));
        if (numbered && type == QLatin1String("subtitle") && textCodecs.contains(fields.value(QStringLiteral("codec_name")))) {
            streams.textSubtitles << index;
        } else if (type == QLatin1String("video") && firstVideo) {
            firstVideo = false;
            const QString transfer = fields.value(QStringLiteral("color_transfer"));
            static const QRegularExpression deepFormat(QStringLiteral("(^p01[0-6]|p1[0-6])(le|be)?$"));
            streams.tenBit = deepFormat.match(fields.value(QStringLiteral("pix_fmt"))).hasMatch();
            streams.tenBitHDR = (transfer == QLatin1String("smpte2084") || transfer == QLatin1String("arib-std-b67"))
                                && streams.tenBit;
        }
    }
    return streams;
}

FFmpegCompressor::FFmpegCompressor(ToolLocator ffmpeg, EncoderCatalog &catalog, ToolLocator ffprobe)
    : m_ffmpeg(std::move(ffmpeg))
    , m_catalog(catalog)
    , m_ffprobe(std::move(ffprobe))
{
    // The hardware trials take a moment; by the first compression they are done.
    m_catalog.start();
}

FFmpegCompressor::~FFmpegCompressor() = default;

std::optional<QString> FFmpegCompressor::executableURL() const
{
    return m_ffmpeg.locate();
}

QString FFmpegCompressor::timeText(double seconds)
{
    // Fixed notation: ffmpeg's time syntax has no exponents.
    char buffer[400];
    const auto [end, error] = std::to_chars(std::begin(buffer), std::end(buffer), seconds, std::chars_format::fixed);
    if (error != std::errc{}) {
        return QString::number(seconds, 'f', 6);
    }
    QString text = QString::fromLatin1(buffer, end - buffer);
    if (std::isfinite(seconds) && !text.contains(QLatin1Char('.'))) {
        text += QStringLiteral(".0");
    }
    return text;
}

QStringList FFmpegCompressor::makeArguments(const VideoInfo &info, const CompressionSettings &settings,
                                            const QUrl &destination, const std::optional<TimeRange> &range,
                                            const EncoderProfile &profile, const SourceStreams &streams)
{
    const bool profileEncoder = usesProfileEncoder(settings);
    const EncoderStrategy strategy = settings.encoderStrategy();
    const std::int64_t rate = settings.targetVideoBitrate(info);
    const QString encoder = profileEncoder ? profile.encoder(strategy).name : QStringLiteral("libx264");
    QString uploadFilter = profileEncoder ? profile.uploadFilter : QString{};

    QStringList arguments = head(info, range, profileEncoder ? profile.deviceOptions : QStringList{});
    arguments << QStringLiteral("-map") << QStringLiteral("0:v:0") << QStringLiteral("-map") << QStringLiteral("0:a?");
    arguments << subtitleMaps(streams, range);
    arguments << QStringLiteral("-c:v") << encoder;
    arguments << QStringLiteral("-g") << decimal(settings.keyFrameInterval(info));
    if (strategy == EncoderStrategy::speedHEVC) {
        arguments << QStringLiteral("-tag:v") << QStringLiteral("hvc1");
    }
    if (profileEncoder) {
        QStringList speedOptions = profile.encoder(strategy).speedOptions;
        const bool av1 = strategy == EncoderStrategy::smallestAV1;
        // An HDR picture in 8 bits bands visibly: HEVC keeps its 10 bits (Main 10).
        // The H.264 plans stay 8-bit, since High 10 plays on few devices. AV1's
        // main profile has 10 bits everywhere, and they cost it almost nothing.
        const bool tenBits = av1 ? streams.tenBit : streams.tenBitHDR && strategy == EncoderStrategy::speedHEVC;
        if (tenBits) {
            const qsizetype pixelFormat = speedOptions.indexOf(QStringLiteral("-pix_fmt"));
            if (pixelFormat >= 0 && pixelFormat + 1 < speedOptions.size()) {
                speedOptions[pixelFormat + 1] = QStringLiteral("yuv420p10le");
            } else if (!uploadFilter.isEmpty()) {
                uploadFilter.replace(QStringLiteral("nv12"), QStringLiteral("p010"));
            } else {
                speedOptions << QStringLiteral("-pix_fmt") << QStringLiteral("p010le");
            }
            if (!av1) {
                speedOptions << QStringLiteral("-profile:v") << QStringLiteral("main10");
            }
        }
        arguments << speedOptions;
        if (av1) {
            // Constant quality under a ceiling: the rate is only the most it may spend.
            // A one-second buffer: a longer one lets a short file's start run over it.
            arguments << QStringLiteral("-maxrate") << decimal(rate) << QStringLiteral("-bufsize") << decimal(rate);
        } else {
            arguments << QStringLiteral("-b:v") << decimal(rate) << QStringLiteral("-maxrate")
                      << decimal(truncToInt64(static_cast<double>(rate) * 1.25)) << QStringLiteral("-bufsize")
                      << decimal(doubled(rate));
        }
    } else {
        arguments << QStringLiteral("-preset") << QStringLiteral("medium") << QStringLiteral("-crf")
                  << QStringLiteral("23.5") << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
    }
    arguments << QStringLiteral("-fps_mode") << QStringLiteral("passthrough");
    arguments << videoFilter(info, settings, uploadFilter);
    if (settings.copiesAudio(info)) {
        arguments << QStringLiteral("-c:a") << QStringLiteral("copy");
    } else {
        arguments << aacAudio();
    }
    arguments << subtitleCodec(streams, range) << outputTail(filePath(destination));
    return arguments;
}

QStringList FFmpegCompressor::makeTwoPassArguments(const VideoInfo &info, const CompressionSettings &settings,
                                                   const QUrl &destination, const std::optional<TimeRange> &range,
                                                   const QUrl &passLogURL, bool firstPass,
                                                   const SourceStreams &streams)
{
    QStringList arguments = head(info, range, {});
    arguments << QStringLiteral("-map") << QStringLiteral("0:v:0");
    if (!firstPass) {
        arguments << QStringLiteral("-map") << QStringLiteral("0:a?") << subtitleMaps(streams, range);
    }
    arguments << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
              << QStringLiteral("medium") << QStringLiteral("-b:v") << decimal(settings.targetVideoBitrate(info))
              << QStringLiteral("-g") << decimal(settings.keyFrameInterval(info)) << QStringLiteral("-pix_fmt")
              << QStringLiteral("yuv420p") << QStringLiteral("-fps_mode") << QStringLiteral("passthrough")
              << QStringLiteral("-pass") << (firstPass ? QStringLiteral("1") : QStringLiteral("2"))
              << QStringLiteral("-passlogfile") << filePath(passLogURL);
    arguments << videoFilter(info, settings, {});
    if (firstPass) {
        arguments << QStringLiteral("-an") << QStringLiteral("-f") << QStringLiteral("null")
                  << QStringLiteral("-progress") << QStringLiteral("pipe:1") << QStringLiteral("-nostats")
                  << QStringLiteral("/dev/null");
    } else {
        arguments << aacAudio() << subtitleCodec(streams, range) << outputTail(filePath(destination));
    }
    return arguments;
}

QCoro::Task<Result<void>> FFmpegCompressor::compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                                     std::optional<TimeRange> range, ProgressCallback progress,
                                                     std::stop_token stop)
{
    const std::optional<QString> executable = executableURL();
    if (!executable) {
        co_return std::unexpected(CompressionError::ffmpegUnavailable().toError());
    }
    // The destination is the coordinator's fresh file, with the permission
    // bits the output must have; `-y` writes over it and keeps them.
    const double duration = range ? range->length() : info.duration;
    SourceStreams streams;
    if (!range) {
        streams = co_await readSourceStreams(info.url, stop);
    }

    if (settings.mode == CompressionMode::quality) {
        EncoderProfile profile;
        if (settings.encoderStrategy() == EncoderStrategy::smallestAV1) {
            profile = co_await m_catalog.av1Profile();
        } else {
            profile = co_await m_catalog.profile();
        }
        const auto ran = co_await run(*executable, makeArguments(info, settings, destination, range, profile, streams),
                                      duration, 0.0, 1.0, progress, stop);
        if (ran) {
            report(progress, 1.0);
        }
        co_return ran;
    }

    const QString scratch = Files::scratchFolder();
    if (scratch.isEmpty()) {
        co_return std::unexpected(Error::platform(QStringLiteral("无法创建私有的临时文件夹")));
    }
    const QString passDirectory = QDir(scratch).filePath(passDirectoryPrefix
                                                + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    std::error_code created;
    std::filesystem::create_directories(QFile::encodeName(passDirectory).toStdString(), created);
    if (created) {
        co_return std::unexpected(Error::platform(QString::fromLocal8Bit(created.message())));
    }
    const TreeRemoval removal{passDirectory};
    const QUrl passLog = QUrl::fromLocalFile(QDir(passDirectory).filePath(QStringLiteral("x264")));

    const auto first = co_await run(*executable,
                                    makeTwoPassArguments(info, settings, destination, range, passLog, true, streams),
                                    duration, 0.0, 0.5, progress, stop);
    if (!first) {
        co_return first;
    }
    if (stop.stop_requested()) {
        co_return std::unexpected(Error::taskCancelled());
    }
    const auto second = co_await run(*executable,
                                     makeTwoPassArguments(info, settings, destination, range, passLog, false, streams),
                                     duration, 0.5, 0.5, progress, stop);
    if (!second) {
        co_return second;
    }
    Files::removeTree(passDirectory);
    report(progress, 1.0);
    co_return second;
}

QCoro::Task<SourceStreams> FFmpegCompressor::readSourceStreams(const QUrl &source, std::stop_token stop) const
{
    const std::optional<QString> ffprobe = m_ffprobe.locate();
    if (!ffprobe) {
        co_return SourceStreams{};
    }
    QStringList arguments{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                          QStringLiteral("stream=index,codec_type,codec_name,pix_fmt,color_transfer"),
                          QStringLiteral("-of"), QStringLiteral("compact=p=0")};
    arguments << filePath(source);
    const auto output = co_await ChildProcess::run(*ffprobe, std::move(arguments), std::move(stop));
    if (!output || !output->succeeded()) {
        co_return SourceStreams{};
    }
    co_return SourceStreams::fromProbeLines(QString::fromUtf8(output->standardOutput).split(QLatin1Char('\n')));
}

QCoro::Task<void> FFmpegCompressor::cancel()
{
    if (m_process) {
        m_process->terminate();
        m_process.reset();
    }
    co_return;
}

QCoro::Task<Result<void>> FFmpegCompressor::run(QString executable, QStringList arguments, double duration,
                                                double progressBase, double progressScale, ProgressCallback progress,
                                                std::stop_token stop)
{
    if (stop.stop_requested()) {
        co_return std::unexpected(Error::taskCancelled());
    }
    const auto child = std::make_shared<ChildProcess>(std::move(executable), std::move(arguments));
    m_process = child;
    const auto release = [this, &child] {
        if (m_process == child) {
            m_process.reset();
        }
    };
    if (const auto launched = co_await child->launch(); !launched) {
        release();
        co_return std::unexpected(launched.error());
    }

    // A cancelled task must not sit waiting for the child's next line.
    const std::stop_callback endChild(stop, [child] { child->terminate(); });
    const double divisor = duration <= shortestDivisor ? shortestDivisor : duration;
    bool taskCancelled = false;
    while (const std::optional<QString> line = co_await child->readLine()) {
        if (stop.stop_requested()) {
            taskCancelled = true;
            break;
        }
        if (const auto fraction = progressFraction(*line, divisor)) {
            report(progress, progressBase + progressScale * *fraction);
        }
    }
    if (taskCancelled) {
        child->terminate();
    }
    co_await child->waitForExit();
    release();

    if (taskCancelled) {
        co_return std::unexpected(Error::taskCancelled());
    }
    if (child->exitCode() == 0) {
        co_return Result<void>{};
    }
    if (stop.stop_requested()) {
        co_return std::unexpected(CompressionError::cancelled().toError());
    }
    co_return std::unexpected(
        CompressionError::failed(failureMessage(child->standardError(), child->exitCode())).toError());
}

} // namespace slimreel
