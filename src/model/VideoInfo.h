#pragma once

#include <QMetaType>
#include <QString>
#include <QUrl>

#include <cstdint>

namespace slimreel {

// The probed facts of one source video; filled once, never changed.
struct VideoInfo {
    QUrl url;
    double duration = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t fileSize = 0;
    double videoBitrate = 0;
    double frameRate = 0;
    QString codec;
    std::int64_t audioTrackCount = 0;
    double audioBitrate = 0;
    bool canCopyAudioToMP4 = false;

    // Member-wise, exact float comparison: two NaN durations are unequal.
    friend bool operator==(const VideoInfo &, const VideoInfo &) = default;
};

} // namespace slimreel

Q_DECLARE_METATYPE(slimreel::VideoInfo)
