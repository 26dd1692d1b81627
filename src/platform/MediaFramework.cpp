#include "platform/MediaFramework.h"

#include "model/Numbers.h"
#include "platform/Files.h"

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <QCoroFuture>

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <array>
#include <cmath>
#include <memory>
#include <mutex>

namespace slimreel::MediaFramework {

namespace {

// A broken or stalled file must not hold up an import for long.
constexpr GstClockTime discoveryTimeout = 15 * GST_SECOND;

// One caps field that must hold a given value (compared in its serialised form).
struct FieldMatch {
    const char *name = nullptr;
    const char *value = nullptr;
};

struct SubtypeRow {
    const char *mediaType;
    FieldMatch first;
    FieldMatch second;
    char code[5];
};

// Caps → MP4 sample-entry code. The first matching row wins, so rows with field
// conditions come before the general row of the same media type.
constexpr auto subtypeTable = std::to_array<SubtypeRow>({
    {"video/x-h264", {}, {}, "avc1"},
    {"video/x-h265", {"stream-format", "hev1"}, {}, "hev1"},
    {"video/x-h265", {}, {}, "hvc1"},
    {"video/x-av1", {}, {}, "av01"},
    {"video/x-vp9", {}, {}, "vp09"},
    {"video/x-vp8", {}, {}, "vp08"},
    {"video/mpeg", {"mpegversion", "4"}, {}, "mp4v"},
    {"video/mpeg", {"mpegversion", "2"}, {}, "mp2v"},
    {"video/mpeg", {"mpegversion", "1"}, {}, "mp1v"},
    {"video/x-divx", {"divxversion", "4"}, {}, "mp4v"},
    {"video/x-divx", {"divxversion", "5"}, {}, "mp4v"},
    {"video/x-xvid", {}, {}, "mp4v"},
    {"video/x-h263", {}, {}, "s263"},
    {"image/jpeg", {}, {}, "jpeg"},
    {"video/x-prores", {"variant", "proxy"}, {}, "apco"},
    {"video/x-prores", {"variant", "lt"}, {}, "apcs"},
    {"video/x-prores", {"variant", "hq"}, {}, "apch"},
    {"video/x-prores", {"variant", "4444"}, {}, "ap4h"},
    {"video/x-prores", {"variant", "4444xq"}, {}, "ap4x"},
    {"video/x-prores", {}, {}, "apcn"},
    {"audio/mpeg", {"mpegversion", "4"}, {}, "mp4a"},
    {"audio/mpeg", {"mpegversion", "2"}, {}, "mp4a"},
    {"audio/mpeg", {"mpegversion", "1"}, {"layer", "3"}, ".mp3"},
    {"audio/mpeg", {"mpegversion", "1"}, {"layer", "2"}, ".mp2"},
    {"audio/x-ac3", {}, {}, "ac-3"},
    {"audio/x-eac3", {}, {}, "ec-3"},
    {"audio/x-opus", {}, {}, "Opus"},
    {"audio/x-flac", {}, {}, "fLaC"},
    {"audio/x-alac", {}, {}, "alac"},
    {"audio/x-raw", {}, {}, "lpcm"},
    {"audio/AMR", {}, {}, "samr"},
    {"audio/AMR-WB", {}, {}, "sawb"},
});

bool fieldMatches(const GstStructure *structure, const FieldMatch &match)
{
    if (!match.name) {
        return true;
    }
    const GValue *value = gst_structure_get_value(structure, match.name);
    if (!value) {
        return false;
    }
    gchar *text = gst_value_serialize(value);
    const bool equal = text && g_strcmp0(text, match.value) == 0;
    g_free(text);
    return equal;
}

template <typename T, void (*Free)(T *)>
struct GstDeleter {
    void operator()(T *p) const
    {
        if (p) {
            Free(p);
        }
    }
};

void unrefCaps(GstCaps *caps) { gst_caps_unref(caps); }
void unrefObject(GstDiscovererInfo *info) { g_object_unref(info); }
void freeStreamList(GList *list) { gst_discoverer_stream_info_list_free(list); }

using CapsPtr = std::unique_ptr<GstCaps, GstDeleter<GstCaps, unrefCaps>>;
using InfoPtr = std::unique_ptr<GstDiscovererInfo, GstDeleter<GstDiscovererInfo, unrefObject>>;
using StreamListPtr = std::unique_ptr<GList, GstDeleter<GList, freeStreamList>>;

// The stream's own bit rate tag, else its nominal one; 0 when the container gives neither.
double streamBitrate(GstDiscovererStreamInfo *stream)
{
    const GstTagList *tags = gst_discoverer_stream_info_get_tags(stream);
    guint rate = 0;
    if (tags && (gst_tag_list_get_uint(tags, GST_TAG_BITRATE, &rate) || gst_tag_list_get_uint(tags, GST_TAG_NOMINAL_BITRATE, &rate))) {
        return static_cast<double>(rate);
    }
    return 0;
}

std::optional<std::uint32_t> streamSubType(GstDiscovererStreamInfo *stream)
{
    const CapsPtr caps(gst_discoverer_stream_info_get_caps(stream));
    return mediaSubType(caps.get());
}

// Whether the stream's orientation tag turns the picture a quarter, which
// swaps the displayed width and height (mirroring does not change the size).
bool turnsQuarter(GstDiscovererStreamInfo *stream)
{
    const GstTagList *tags = gst_discoverer_stream_info_get_tags(stream);
    gchar *orientation = nullptr;
    if (!tags || !gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation)) {
        return false;
    }
    static constexpr std::array quarterTurns{"rotate-90", "rotate-270", "flip-rotate-90", "flip-rotate-270"};
    bool quarter = false;
    for (const char *name : quarterTurns) {
        quarter = quarter || g_strcmp0(orientation, name) == 0;
    }
    g_free(orientation);
    return quarter;
}

// The first stream that is a moving picture; a still image (cover art) does not count.
GstDiscovererVideoInfo *firstVideoStream(GList *videoStreams)
{
    for (GList *item = videoStreams; item; item = item->next) {
        auto *video = GST_DISCOVERER_VIDEO_INFO(item->data);
        if (!gst_discoverer_video_info_is_image(video)) {
            return video;
        }
    }
    return nullptr;
}

// A size that is not a usable picture dimension means the stream could not be read.
std::optional<std::int64_t> pictureDimension(double value)
{
    const double rounded = std::round(std::fabs(value));
    if (!std::isfinite(rounded) || rounded < 1 || rounded >= 9223372036854775808.0) {
        return std::nullopt;
    }
    return roundToInt64(rounded);
}

// Parsed caps already say all that inspection reads of a video stream and of
// MPEG audio (AAC, MP3: their rate comes from the container, or from no one).
// Stopping there spares loading and running the decoders: the libav plugin
// alone took 90 ms to load, most of a file's inspection. Other audio still
// decodes: the decoder is what reports an AC-3 track's bit rate.
gboolean stopAtParsedStreams(GstElement *, GstPad *, GstCaps *caps, gpointer)
{
    if (!caps || gst_caps_get_size(caps) != 1) {
        return TRUE;
    }
    const GstStructure *structure = gst_caps_get_structure(caps, 0);
    const char *name = gst_structure_get_name(structure);
    const bool media = g_str_has_prefix(name, "video/") || gst_structure_has_name(structure, "audio/mpeg");
    if (!media || gst_structure_has_name(structure, "video/x-raw") || gst_structure_has_name(structure, "audio/x-raw")) {
        return TRUE;
    }
    gboolean done = FALSE;
    if (gst_structure_get_boolean(structure, "parsed", &done) && done) {
        return FALSE;
    }
    if (gst_structure_get_boolean(structure, "framed", &done) && done) {
        return FALSE;
    }
    return TRUE;
}

// Hooked once per decoding bin: the discoverer may reuse its bin for the next file.
void onSourceSetup(GstDiscoverer *, GstElement *source, gpointer)
{
    GstObject *bin = gst_object_get_parent(GST_OBJECT(source));
    if (!bin) {
        return;
    }
    if (!g_object_get_data(G_OBJECT(bin), "slimreel-parsed-only")
        && g_signal_lookup("autoplug-continue", G_OBJECT_TYPE(bin)) != 0) {
        g_signal_connect(bin, "autoplug-continue", G_CALLBACK(stopAtParsedStreams), nullptr);
        g_object_set_data(G_OBJECT(bin), "slimreel-parsed-only", GINT_TO_POINTER(1));
    }
    gst_object_unref(bin);
}

// The discoverer of this worker thread, made on first use and kept for the
// files that follow; a sync-mode discoverer serves one caller at a time.
GstDiscoverer *threadDiscoverer()
{
    struct Holder {
        GstDiscoverer *discoverer = nullptr;
        ~Holder()
        {
            if (discoverer) {
                g_object_unref(discoverer);
            }
        }
    };
    thread_local Holder holder;
    if (!holder.discoverer) {
        GError *error = nullptr;
        holder.discoverer = gst_discoverer_new(discoveryTimeout, &error);
        g_clear_error(&error);
        if (holder.discoverer) {
            g_signal_connect(holder.discoverer, "source-setup", G_CALLBACK(onSourceSetup), nullptr);
        }
    }
    return holder.discoverer;
}

using Outcome = std::expected<Description, Failure>;

std::unexpected<Failure> failure(Failure::Kind kind) { return std::unexpected(Failure{kind, {}}); }
std::unexpected<Failure> unreadable() { return failure(Failure::Kind::unreadable); }

// Runs on a worker thread: the discoverer blocks until the file is understood.
Outcome discover(const QUrl &url)
{
    ensureInitialised();
    const QByteArray uri = url.toString(QUrl::FullyEncoded).toUtf8();
    GstDiscoverer *discoverer = threadDiscoverer();
    if (!discoverer || !gst_uri_is_valid(uri.constData())) {
        return unreadable();
    }
    GError *error = nullptr;
    const InfoPtr info(gst_discoverer_discover_uri(discoverer, uri.constData(), &error));
    g_clear_error(&error);
    if (!info || gst_discoverer_info_get_result(info.get()) != GST_DISCOVERER_OK) {
        return unreadable();
    }

    Description result;
    result.url = url;
    const GstClockTime duration = gst_discoverer_info_get_duration(info.get());
    result.duration = GST_CLOCK_TIME_IS_VALID(duration) ? static_cast<double>(duration) / GST_SECOND : 0.0;

    const StreamListPtr videoStreams(gst_discoverer_info_get_video_streams(info.get()));
    GstDiscovererVideoInfo *video = firstVideoStream(videoStreams.get());
    if (!video) {
        return failure(Failure::Kind::noVideoStream);
    }
    auto *videoStream = GST_DISCOVERER_STREAM_INFO(video);
    double width = gst_discoverer_video_info_get_width(video);
    double height = gst_discoverer_video_info_get_height(video);
    if (turnsQuarter(videoStream)) {
        std::swap(width, height);
    }
    const auto shownWidth = pictureDimension(width);
    const auto shownHeight = pictureDimension(height);
    if (!shownWidth || !shownHeight) {
        return unreadable();
    }
    result.width = *shownWidth;
    result.height = *shownHeight;
    result.videoBitrate = streamBitrate(videoStream);
    const guint rateDenominator = gst_discoverer_video_info_get_framerate_denom(video);
    result.frameRate = rateDenominator == 0
                           ? 0.0
                           : static_cast<double>(gst_discoverer_video_info_get_framerate_num(video)) / rateDenominator;
    result.videoSubType = streamSubType(videoStream);

    const StreamListPtr audioStreams(gst_discoverer_info_get_audio_streams(info.get()));
    for (GList *item = audioStreams.get(); item; item = item->next) {
        auto *audio = GST_DISCOVERER_STREAM_INFO(item->data);
        ++result.audioTrackCount;
        result.audioBitrate += streamBitrate(audio);
        result.audioSubTypes.push_back(streamSubType(audio));
    }

    const auto size = Files::fileSize(url.toLocalFile());
    if (!size) {
        return std::unexpected(Failure{Failure::Kind::fileSystem, size.error()});
    }
    result.fileSize = *size;
    // Matroska and WebM carry no per-stream rate. Left at 0, every such video
    // would be encoded at the plans' floor whatever its size, so the rate is
    // estimated from the file as a whole, less the audio we know of.
    if (result.videoBitrate <= 0 && result.duration > 0 && std::isfinite(result.duration)) {
        const double overall = static_cast<double>(result.fileSize) * 8.0 / result.duration;
        result.videoBitrate = std::max(0.0, overall - result.audioBitrate);
    }
    return result;
}

QThreadPool &discoveryPool()
{
    static QThreadPool pool;
    return pool;
}

} // namespace

void ensureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gst_is_initialized()) {
            gst_init(nullptr, nullptr);
        }
    });
}

std::optional<std::uint32_t> mediaSubType(const GstCaps *caps)
{
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) {
        return std::nullopt;
    }
    const GstStructure *structure = gst_caps_get_structure(caps, 0);
    for (const auto &row : subtypeTable) {
        if (gst_structure_has_name(structure, row.mediaType) && fieldMatches(structure, row.first)
            && fieldMatches(structure, row.second)) {
            return fourCharCode(row.code);
        }
    }
    return std::nullopt;
}

QCoro::Task<std::expected<Description, Failure>> inspect(QUrl url)
{
    auto promise = std::make_shared<QPromise<Outcome>>();
    QFuture<Outcome> future = promise->future();
    promise->start();
    discoveryPool().start([promise, url] {
        promise->addResult(discover(url));
        promise->finish();
    });
    co_return co_await future;
}

} // namespace slimreel::MediaFramework
