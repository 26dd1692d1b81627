#pragma once

#include "compress/EncoderCatalog.h"
#include "compress/VideoCompressing.h"
#include "platform/ToolLocator.h"

#include <QString>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

namespace slimreel {

class ChildProcess;

// What the argument lists need to know of the source beyond VideoInfo, read
// with ffprobe just before an encode.
struct SourceStreams {
    QList<std::int64_t> textSubtitles; // stream indices of subtitle tracks MP4 can hold as text
    bool tenBitHDR = false;            // a PQ or HLG picture of 10 bits or more
    bool tenBit = false;               // a picture of 10 bits or more, whatever its transfer

    // From `ffprobe -show_entries stream=… -of compact=p=0` lines.
    static SourceStreams fromProbeLines(const QStringList &lines);
    friend bool operator==(const SourceStreams &, const SourceStreams &) = default;
};

// Compresses by running the ffmpeg tool: one pass in quality mode, two x264
// passes with a temporary statistics folder for a target size.
class FFmpegCompressor : public VideoCompressing {
public:
    explicit FFmpegCompressor(ToolLocator ffmpeg = ToolLocator::forTool(QStringLiteral("ffmpeg")),
                              EncoderCatalog &catalog = EncoderCatalog::shared(),
                              ToolLocator ffprobe = ToolLocator::forTool(QStringLiteral("ffprobe")));
    ~FFmpegCompressor() override;

    // Looks again on every call: the tool may be installed while the program runs.
    std::optional<QString> executableURL() const;

    QCoro::Task<Result<void>> compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                       std::optional<TimeRange> range, ProgressCallback progress,
                                       std::stop_token stop) override;
    // Ends the running child, if any; does not wait for it.
    QCoro::Task<void> cancel() override;

    // The single-pass command line (without the program).
    static QStringList makeArguments(const VideoInfo &info, const CompressionSettings &settings,
                                     const QUrl &destination, const std::optional<TimeRange> &range,
                                     const EncoderProfile &profile, const SourceStreams &streams = {});
    // One of the two x264 passes of a target-size encode; the first writes no file.
    static QStringList makeTwoPassArguments(const VideoInfo &info, const CompressionSettings &settings,
                                            const QUrl &destination, const std::optional<TimeRange> &range,
                                            const QUrl &passLogURL, bool firstPass,
                                            const SourceStreams &streams = {});

    // Shortest text that reads back as the same double, always with a fraction: 0.0, 12.5.
    static QString timeText(double seconds);

private:
    QCoro::Task<Result<void>> run(QString executable, QStringList arguments, double duration, double progressBase,
                                  double progressScale, ProgressCallback progress, std::stop_token stop);

    // Nothing special when ffprobe is missing or fails: the encode goes on without subtitles, in 8 bits.
    QCoro::Task<SourceStreams> readSourceStreams(const QUrl &source, std::stop_token stop) const;

    ToolLocator m_ffmpeg;
    EncoderCatalog &m_catalog;
    ToolLocator m_ffprobe;
    std::shared_ptr<ChildProcess> m_process;
};

} // namespace slimreel
