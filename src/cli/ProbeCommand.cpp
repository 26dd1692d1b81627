#include "cli/ProbeCommand.h"

#include "model/Formatters.h"
#include "probe/VideoProbeService.h"

#include <QCommandLineParser>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cstdio>

namespace slimreel::cli {

namespace {

constexpr auto usage = "Usage: slimreel-cli probe [--json] [--backend auto|native|ffprobe] FILE...\n";

struct Backend {
    const char *name;
    VideoProbeService::Order order;
};

constexpr std::array<Backend, 3> backends{{
    {"auto", VideoProbeService::Order::nativeThenFFprobe},
    {"native", VideoProbeService::Order::nativeOnly},
    {"ffprobe", VideoProbeService::Order::ffprobeOnly},
}};

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int usageError(const QString &message)
{
    write(stderr, QStringLiteral("slimreel-cli probe: %1\n").arg(message) + QLatin1String(usage)
                      + QStringLiteral("Try 'slimreel-cli probe --help' for more information.\n"));
    return 2;
}

QUrl fileUrl(const QString &argument)
{
    return QUrl::fromLocalFile(QDir::cleanPath(QDir::current().absoluteFilePath(argument)));
}

QString urlText(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded);
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + u'\n';
}

QString asJson(const VideoInfo &info)
{
    return jsonLine({
        {QStringLiteral("url"), urlText(info.url)},
        {QStringLiteral("duration"), info.duration},
        {QStringLiteral("width"), qint64(info.width)},
        {QStringLiteral("height"), qint64(info.height)},
        {QStringLiteral("fileSize"), qint64(info.fileSize)},
        {QStringLiteral("videoBitrate"), info.videoBitrate},
        {QStringLiteral("frameRate"), info.frameRate},
        {QStringLiteral("codec"), info.codec},
        {QStringLiteral("audioTrackCount"), qint64(info.audioTrackCount)},
        {QStringLiteral("audioBitrate"), info.audioBitrate},
        {QStringLiteral("canCopyAudioToMP4"), info.canCopyAudioToMP4},
    });
}

QString kilobits(double bitsPerSecond)
{
    return QStringLiteral("%1 kbit/s").arg(QString::number(bitsPerSecond / 1000.0, 'f', 0));
}

QString asText(const VideoInfo &info)
{
    const auto row = [](const char *label, const QString &value) {
        return QStringLiteral("  %1 %2\n").arg(QLatin1String(label), -24).arg(value);
    };
    return info.url.toLocalFile() + u'\n'
           + row("Duration:", QStringLiteral("%1 (%2 s)")
                                  .arg(Formatters::duration(info.duration), QString::number(info.duration, 'f', 3)))
           + row("Resolution:", QStringLiteral("%1x%2").arg(info.width).arg(info.height))
           + row("File size:", QStringLiteral("%1 (%2 bytes)").arg(Formatters::byteCount(info.fileSize)).arg(info.fileSize))
           + row("Video codec:", info.codec)
           + row("Video bit rate:", kilobits(info.videoBitrate))
           + row("Frame rate:", QStringLiteral("%1 fps").arg(QString::number(info.frameRate, 'g', 6)))
           + row("Audio tracks:", QString::number(info.audioTrackCount))
           + row("Audio bit rate:", kilobits(info.audioBitrate))
           + row("Audio copyable to MP4:", info.canCopyAudioToMP4 ? QStringLiteral("yes") : QStringLiteral("no"))
           + u'\n';
}

} // namespace

QCoro::Task<int> probeCommand(QStringList arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Inspects video files and prints what Slimreel reads from them."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object per file and line, with the fields of VideoInfo."));
    const QCommandLineOption backend(
        QStringLiteral("backend"),
        QStringLiteral("auto (GStreamer, then ffprobe), native (GStreamer only) or ffprobe (ffprobe only)."),
        QStringLiteral("name"), QStringLiteral("auto"));
    parser.addOptions({help, json, backend});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Video files; relative paths start at the current folder."),
                                 QStringLiteral("FILE..."));

    arguments.prepend(QStringLiteral("slimreel-cli probe"));
    if (!parser.parse(arguments)) {
        co_return usageError(parser.errorText());
    }
    if (parser.isSet(help)) {
        // Qt's usage line names only the program; this one names the command too.
        const QString text = parser.helpText();
        write(stdout, QStringLiteral("Usage: slimreel-cli probe [options] FILE...") + text.mid(text.indexOf(u'\n')));
        co_return 0;
    }
    const QString backendName = parser.value(backend);
    const auto chosen = std::ranges::find_if(backends, [&](const Backend &b) { return backendName == QLatin1String(b.name); });
    if (chosen == backends.end()) {
        co_return usageError(QStringLiteral("unknown backend '%1' (use auto, native or ffprobe)").arg(backendName));
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        co_return usageError(QStringLiteral("no files given"));
    }

    const VideoProbeService service(ToolLocator::forTool(QStringLiteral("ffprobe")), chosen->order);
    const bool asJsonLines = parser.isSet(json);
    int exitCode = 0;
    for (const QString &file : files) {
        const QUrl url = fileUrl(file);
        const auto info = co_await service.inspect(url);
        if (info) {
            write(stdout, asJsonLines ? asJson(*info) : asText(*info));
            continue;
        }
        exitCode = 1;
        if (asJsonLines) {
            write(stdout, jsonLine({{QStringLiteral("url"), urlText(url)}, {QStringLiteral("error"), info.error().description()}}));
        } else {
            write(stderr, QStringLiteral("%1: %2\n").arg(url.toLocalFile(), info.error().description()));
        }
    }
    co_return exitCode;
}

} // namespace slimreel::cli
