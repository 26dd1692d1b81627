#include "platform/ExportSession.h"

#include "model/Numbers.h"
#include "platform/Files.h"
#include "platform/MediaFramework.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <QCoroSignal>

#include <gst/gst.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace slimreel {

namespace {

enum class Encoder { x264, x265, av1 };

struct PresetRow {
    ExportSession::Preset preset;
    const char *name;
    Encoder encoder;
    std::int64_t maxHeight; // 0: the source's own size
    guint quality;          // x264 quantizer in quality mode, x265 crf, libaom quantizer
    const char *speed;      // the encoder's speed preset (libaom: cpu-used)
    double peakShare;       // share of the source's video bit rate the output may peak at
};

// Measured on 2 cores with camera-like footage: quality-driven rate control
// at speeds that keep up with playback, and a peak rate below the source's own
// so that an already lean source still comes out smaller.
constexpr auto presetTable = std::to_array<PresetRow>({
    {ExportSession::Preset::preset1280x720, "1280x720", Encoder::x264, 720, 23, "veryfast", 0.7},
    {ExportSession::Preset::preset1920x1080, "1920x1080", Encoder::x264, 1080, 23, "veryfast", 0.7},
    {ExportSession::Preset::highestQuality, "HighestQuality", Encoder::x264, 0, 21, "faster", 0.85},
    {ExportSession::Preset::hevcHighestQuality, "HEVCHighestQuality", Encoder::x265, 0, 25, "superfast", 0.7},
    // libaom in its realtime mode (bench/encoder-presets/results.md): its
    // good-quality mode made screen text 5 times smaller but took 3-9 times the
    // CPU, 0.09 × real time on 1080p grain; cpu-used 7 against 9 cost up to 40 %
    // more CPU for 0-17 % less size at the same SSIM.
    {ExportSession::Preset::av1HighestQuality, "AV1HighestQuality", Encoder::av1, 0, 40, "7", 0},
});

const PresetRow &presetRow(ExportSession::Preset preset)
{
    return *std::ranges::find(presetTable, preset, &PresetRow::preset);
}

// In order of preference; any one of them will do.
constexpr std::array aacEncoders{"avenc_aac", "voaacenc", "fdkaacenc"};
constexpr std::array pictureElements{"uridecodebin", "queue",  "videoflip", "videoconvert",
                                     "videoscale",   "capsfilter", "mp4mux",    "filesink", "fakesink"};
constexpr std::array soundElements{"audioconvert", "audioresample"};

constexpr gint audioBitrate = 128'000;
constexpr guint vbvMilliseconds = 2000;
constexpr guint minimumPeakKbps = 300;
constexpr guint x264UncappedKbps = 2'048'000; // the element's maximum: no effective cap
constexpr auto rangeHoldTimeout = std::chrono::seconds(15);

const char *encoderFactory(Encoder encoder)
{
    switch (encoder) {
    case Encoder::x265:
        return "x265enc";
    case Encoder::av1:
        return "av1enc";
    case Encoder::x264:
        break;
    }
    return "x264enc";
}

bool elementExists(const char *name)
{
    GstElementFactory *factory = gst_element_factory_find(name);
    if (!factory) {
        return false;
    }
    gst_object_unref(factory);
    return true;
}

const char *aacEncoder()
{
    const auto found = std::ranges::find_if(aacEncoders, elementExists);
    return found == aacEncoders.end() ? nullptr : *found;
}

// The first element the pipeline would need that is not installed, if any.
std::optional<QString> missingElement(const PresetRow &preset, bool withSound)
{
    std::vector<const char *> needed(pictureElements.begin(), pictureElements.end());
    needed.push_back(encoderFactory(preset.encoder));
    if (preset.encoder == Encoder::x265) {
        needed.push_back("h265parse");
    }
    if (preset.encoder == Encoder::av1) {
        needed.push_back("av1parse");
    }
    if (withSound) {
        needed.insert(needed.end(), soundElements.begin(), soundElements.end());
        if (!aacEncoder()) {
            return QStringLiteral("AAC encoder");
        }
    }
    const auto missing = std::ranges::find_if_not(needed, elementExists);
    if (missing != needed.end()) {
        return QString::fromLatin1(*missing);
    }
    return std::nullopt;
}

// What the pipeline has to beat: the probed video rate, else the file's
// average rate less the sound.
double sourceVideoRate(const MediaFramework::Description &source)
{
    if (source.videoBitrate > 0) {
        return source.videoBitrate;
    }
    if (!(source.duration > 0) || source.fileSize <= 0) {
        return 0;
    }
    const double sound = source.audioBitrate > 0 ? source.audioBitrate
                                                 : static_cast<double>(source.audioTrackCount) * audioBitrate;
    return std::max(0.0, static_cast<double>(source.fileSize) * 8.0 / source.duration - sound);
}

// A source that could be read when the export was planned and no longer can:
// told in the same words as when an import meets such a file.
QString sourceProblem(const MediaFramework::Failure &failure)
{
    switch (failure.kind) {
    case MediaFramework::Failure::Kind::noVideoStream:
        return QStringLiteral("文件中没有可用的视频轨道");
    case MediaFramework::Failure::Kind::fileSystem:
        return failure.fileError.description();
    case MediaFramework::Failure::Kind::unreadable:
        break;
    }
    return QStringLiteral("无法读取这个视频文件");
}

struct PictureSize {
    int width = 0;
    int height = 0;
};

int evenSide(double value)
{
    const std::int64_t even = roundToInt64(value / 2) * 2;
    return static_cast<int>(std::clamp<std::int64_t>(even, 2, 1 << 16));
}

// The encoded picture: upright, square pixels, no taller than `maxHeight`,
// even sides as 4:2:0 needs, the shape of the shown picture kept.
PictureSize encodedSize(int storedWidth, int storedHeight, double pixelAspect, bool quarterTurn, std::int64_t maxHeight)
{
    double width = storedWidth * (pixelAspect > 0 ? pixelAspect : 1.0);
    double height = storedHeight;
    if (quarterTurn) {
        std::swap(width, height);
    }
    if (maxHeight > 0 && height > static_cast<double>(maxHeight)) {
        width = width * static_cast<double>(maxHeight) / height;
        height = static_cast<double>(maxHeight);
    }
    return {evenSide(width), evenSide(height)};
}

GstElement *make(const char *factory)
{
    return gst_element_factory_make(factory, nullptr);
}

} // namespace

// Everything the streaming threads touch. They only record facts and wake the
// main thread, which does the rest.
struct ExportSession::Pipeline {
    ExportSession *owner = nullptr;
    std::atomic<double> *progress = nullptr;
    const PresetRow *preset = nullptr;
    MediaFramework::Description source;
    double sourceRate = 0;
    std::optional<Range> range;
    GstElement *pipeline = nullptr;
    GstElement *muxer = nullptr;
    QString faststartFile;

    std::mutex mutex; // guards the inbox and the pad bookkeeping below
    std::vector<GstMessage *> inbox;
    bool pictureLinked = false;
    int branches = 0;
    int heldBranches = 0;
    bool noMorePads = false;
    GstPad *seekPad = nullptr;

    std::atomic<bool> seekSent{false};
    std::atomic<std::int64_t> encodedPictures{0};
    std::atomic<bool> wakePending{false};
    GstSegment encodedSegment{}; // only the picture's streaming thread uses it

    double progressBase() const { return range ? range->start : 0.0; }
    double progressSpan() const { return range ? range->duration : source.duration; }

    void wake()
    {
        if (!wakePending.exchange(true)) {
            QMetaObject::invokeMethod(owner, [session = owner] { session->drainBus(); }, Qt::QueuedConnection);
        }
    }

    void postError(const QString &text)
    {
        GError *error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, text.toUtf8().constData());
        gst_element_post_message(pipeline, gst_message_new_error(GST_OBJECT(pipeline), error, nullptr));
        g_error_free(error);
    }

    // The bus calls this before it queues the message, so a wake-up alone could
    // reach the main thread before the message does: hand it over here instead.
    static GstBusSyncReply onMessage(GstBus *, GstMessage *message, gpointer data)
    {
        auto *self = static_cast<Pipeline *>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS || GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            {
                const std::lock_guard lock(self->mutex);
                self->inbox.push_back(gst_message_ref(message));
            }
            self->wake();
        }
        return GST_BUS_DROP;
    }

    std::vector<GstMessage *> takeMessages()
    {
        const std::lock_guard lock(mutex);
        return std::exchange(inbox, {});
    }

    static void onNoMorePads(GstElement *, gpointer data)
    {
        auto *self = static_cast<Pipeline *>(data);
        {
            const std::lock_guard lock(self->mutex);
            self->noMorePads = true;
        }
        self->wake();
    }

    // Keeps a decoded stream from flowing until the seek to the range's start
    // has been made, so that nothing before the range reaches the encoders.
    static GstPadProbeReturn holdUntilSeek(GstPad *, GstPadProbeInfo *, gpointer data)
    {
        auto *self = static_cast<Pipeline *>(data);
        if (self->seekSent) {
            return GST_PAD_PROBE_REMOVE;
        }
        {
            const std::lock_guard lock(self->mutex);
            ++self->heldBranches;
        }
        self->wake();
        return GST_PAD_PROBE_OK;
    }

    // Progress is what the encoder has finished, measured in source time.
    static GstPadProbeReturn trackProgress(GstPad *, GstPadProbeInfo *info, gpointer data)
    {
        auto *self = static_cast<Pipeline *>(data);
        if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
            GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
                const GstSegment *segment = nullptr;
                gst_event_parse_segment(event, &segment);
                gst_segment_copy_into(segment, &self->encodedSegment);
            }
            return GST_PAD_PROBE_OK;
        }
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        ++self->encodedPictures;
        const double span = self->progressSpan();
        if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer) || !(span > 0)
            || self->encodedSegment.format != GST_FORMAT_TIME) {
            return GST_PAD_PROBE_OK;
        }
        const guint64 streamTime = gst_segment_to_stream_time(&self->encodedSegment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (!GST_CLOCK_TIME_IS_VALID(streamTime)) {
            return GST_PAD_PROBE_OK;
        }
        const double seconds = static_cast<double>(streamTime) / GST_SECOND;
        const double fraction = std::clamp((seconds - self->progressBase()) / span, 0.0, 1.0);
        if (fraction > self->progress->load()) {
            self->progress->store(fraction);
        }
        return GST_PAD_PROBE_OK;
    }

    static void onPadAdded(GstElement *, GstPad *pad, gpointer data)
    {
        auto *self = static_cast<Pipeline *>(data);
        GstCaps *caps = gst_pad_get_current_caps(pad);
        if (!caps) {
            caps = gst_pad_query_caps(pad, nullptr);
        }
        const GstStructure *structure = gst_caps_is_empty(caps) ? nullptr : gst_caps_get_structure(caps, 0);
        const char *type = structure ? gst_structure_get_name(structure) : "";
        bool picture = false;
        if (g_str_has_prefix(type, "video/")) {
            const std::lock_guard lock(self->mutex);
            picture = !self->pictureLinked;
            self->pictureLinked = true;
        }
        bool linked = false;
        if (picture) {
            linked = self->attachPicture(pad, structure);
        } else if (g_str_has_prefix(type, "audio/")) {
            linked = self->attachSound(pad);
        } else {
            // Further pictures, subtitles and the like are not exported.
            GstElement *sink = make("fakesink");
            if (sink) {
                g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
            }
            linked = self->attach(pad, {sink}, nullptr, false);
        }
        gst_caps_unref(caps);
        if (!linked) {
            self->postError(QStringLiteral("无法为 %1 建立转码通道").arg(QString::fromUtf8(type)));
        }
    }

    bool attachPicture(GstPad *pad, const GstStructure *caps)
    {
        int width = 0;
        int height = 0;
        int parN = 1;
        int parD = 1;
        if (!gst_structure_get_int(caps, "width", &width) || !gst_structure_get_int(caps, "height", &height)) {
            width = static_cast<int>(source.width);
            height = static_cast<int>(source.height);
        }
        if (!gst_structure_get_fraction(caps, "pixel-aspect-ratio", &parN, &parD) || parD == 0) {
            parN = parD = 1;
        }
        // The discoverer reported the shown size; a swapped one means a quarter turn,
        // which videoflip applies to the pixels.
        const bool quarterTurn = width != height && source.width == height && source.height == width;
        const PictureSize size = encodedSize(width, height, static_cast<double>(parN) / parD, quarterTurn, preset->maxHeight);

        GstElement *scale = make("videoscale");
        GstElement *flip = make("videoflip");
        GstElement *filter = make("capsfilter");
        GstElement *encoder = make(encoderFactory(preset->encoder));
        if (!scale || !flip || !filter || !encoder) {
            return false;
        }
        gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
        g_object_set(scale, "add-borders", FALSE, nullptr);
        GstCaps *raw = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT,
                                           size.width, "height", G_TYPE_INT, size.height, "pixel-aspect-ratio",
                                           GST_TYPE_FRACTION, 1, 1, nullptr);
        g_object_set(filter, "caps", raw, nullptr);
        gst_caps_unref(raw);

        const double pixelShare = std::min(
            1.0, static_cast<double>(size.width) * size.height / std::max(1.0, static_cast<double>(width) * height));
        const double peak = sourceRate * preset->peakShare * pixelShare / 1000.0;
        const guint peakKbps = sourceRate > 0 ? std::max(minimumPeakKbps, static_cast<guint>(std::min(peak, 2.0e6))) : 0;
        int rateN = 0;
        int rateD = 1;
        // Ten seconds between key frames, as the ffmpeg plans; 30 fps when the caps do not tell.
        const double fps = gst_structure_get_fraction(caps, "framerate", &rateN, &rateD) && rateN > 0 && rateD > 0
                               ? static_cast<double>(rateN) / rateD
                               : 30.0;
        configureEncoder(encoder, peakKbps, static_cast<int>(std::clamp(std::round(fps * 10), 1.0, 3000.0)));

        std::vector<GstElement *> chain{make("queue"), flip, make("videoconvert"), scale, filter, encoder};
        if (preset->encoder == Encoder::x265) {
            // Apple players want the parameter sets in the sample entry (hvc1).
            GstElement *parser = make("h265parse");
            GstElement *form = make("capsfilter");
            GstCaps *hvc1 = gst_caps_from_string("video/x-h265, stream-format=(string)hvc1");
            g_object_set(form, "caps", hvc1, nullptr);
            gst_caps_unref(hvc1);
            chain.push_back(parser);
            chain.push_back(form);
        }
        if (preset->encoder == Encoder::av1) {
            chain.push_back(make("av1parse")); // whole temporal units, as MP4 samples are
        }
        GstPad *encoded = gst_element_get_static_pad(encoder, "src");
        gst_pad_add_probe(encoded, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &Pipeline::trackProgress, this, nullptr);
        gst_object_unref(encoded);
        {
            const std::lock_guard lock(mutex);
            seekPad = GST_PAD(gst_object_ref(pad));
        }
        return attach(pad, std::move(chain), "video_%u", range.has_value());
    }

    void configureEncoder(GstElement *encoder, guint peakKbps, int keyFrameDistance) const
    {
        if (preset->encoder == Encoder::av1) {
            // Constant quality: one quantizer for every frame.
            gst_util_set_object_arg(G_OBJECT(encoder), "usage-profile", "realtime");
            gst_util_set_object_arg(G_OBJECT(encoder), "end-usage", "q");
            gst_util_set_object_arg(G_OBJECT(encoder), "cpu-used", preset->speed);
            g_object_set(encoder, "min-quantizer", preset->quality, "max-quantizer", preset->quality,
                         "keyframe-max-dist", keyFrameDistance, nullptr);
            return;
        }
        gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", preset->speed);
        if (preset->encoder == Encoder::x264) {
            gst_util_set_object_arg(G_OBJECT(encoder), "pass", "qual");
            // In quality mode the bit rate is the peak the buffer model allows.
            g_object_set(encoder, "quantizer", preset->quality, "bitrate", peakKbps > 0 ? peakKbps : x264UncappedKbps,
                         "vbv-buf-capacity", vbvMilliseconds, nullptr);
            return;
        }
        QString options = QStringLiteral("crf=%1").arg(preset->quality);
        if (peakKbps > 0) {
            options += QStringLiteral(":vbv-maxrate=%1:vbv-bufsize=%2").arg(peakKbps).arg(peakKbps * vbvMilliseconds / 1000);
        }
        g_object_set(encoder, "option-string", options.toUtf8().constData(), nullptr);
    }

    bool attachSound(GstPad *pad)
    {
        const char *aac = aacEncoder();
        GstElement *filter = make("capsfilter");
        GstElement *encoder = aac ? make(aac) : nullptr;
        if (!filter || !encoder) {
            return false;
        }
        // More than stereo is folded down: the bit rate is meant for two channels.
        GstCaps *stereo = gst_caps_from_string("audio/x-raw, channels=(int)[1, 2]");
        g_object_set(filter, "caps", stereo, nullptr);
        gst_caps_unref(stereo);
        g_object_set(encoder, "bitrate", audioBitrate, nullptr);
        return attach(pad, {make("queue"), make("audioconvert"), make("audioresample"), filter, encoder}, "audio_%u",
                      range.has_value());
    }

    // Adds a chain of new elements behind a decoded pad, ending at a new muxer
    // pad of `muxerPad` (or nowhere). A held branch waits for the range's seek.
    bool attach(GstPad *decoded, std::vector<GstElement *> chain, const char *muxerPad, bool hold)
    {
        if (std::ranges::find(chain, nullptr) != chain.end()) {
            for (GstElement *element : chain) {
                if (element) {
                    gst_object_unref(gst_object_ref_sink(element));
                }
            }
            return false;
        }
        for (GstElement *element : chain) {
            gst_bin_add(GST_BIN(pipeline), element);
        }
        for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
            if (!gst_element_link(chain[i], chain[i + 1])) {
                return false;
            }
        }
        if (muxerPad) {
            GstPad *into = gst_element_request_pad_simple(muxer, muxerPad);
            GstPad *out = gst_element_get_static_pad(chain.back(), "src");
            const bool joined = into && out && gst_pad_link(out, into) == GST_PAD_LINK_OK;
            if (out) {
                gst_object_unref(out);
            }
            if (into) {
                gst_object_unref(into);
            }
            if (!joined) {
                return false;
            }
        }
        for (auto element = chain.rbegin(); element != chain.rend(); ++element) {
            gst_element_sync_state_with_parent(*element);
        }
        if (hold) {
            gst_pad_add_probe(decoded,
                              GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER
                                              | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                              &Pipeline::holdUntilSeek, this, nullptr);
            const std::lock_guard lock(mutex);
            ++branches;
        }
        GstPad *first = gst_element_get_static_pad(chain.front(), "sink");
        const bool linked = gst_pad_link(decoded, first) == GST_PAD_LINK_OK;
        gst_object_unref(first);
        return linked;
    }
};

QString ExportSession::presetName(Preset preset)
{
    return QString::fromLatin1(presetRow(preset).name);
}

QCoro::Task<bool> ExportSession::determineCompatibility(QUrl source, Preset preset)
{
    const auto info = co_await MediaFramework::inspect(source);
    co_return info.has_value() && !missingElement(presetRow(preset), info->audioTrackCount > 0);
}

ExportSession::ExportSession(QUrl source, Preset preset, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
    , m_preset(preset)
{
    m_seekWatchdog.setSingleShot(true);
    m_seekWatchdog.setInterval(rangeHoldTimeout);
    connect(&m_seekWatchdog, &QTimer::timeout, this, [this] {
        finish(Status::failed, QStringLiteral("无法定位到所选片段"));
    });
}

ExportSession::~ExportSession()
{
    tearDown();
}

void ExportSession::setOutputUrl(QUrl url)
{
    m_output = std::move(url);
}

void ExportSession::setTimeRange(double start, double duration)
{
    m_range = Range{start, duration};
}

double ExportSession::progress() const
{
    return m_progress.load();
}

QCoro::Task<void> ExportSession::exportAsynchronously()
{
    if (m_status != Status::waiting) {
        co_return;
    }
    m_status = Status::exporting;
    const auto source = co_await MediaFramework::inspect(m_source);
    if (m_status != Status::exporting) {
        co_return; // cancelled while the source was being read
    }
    if (!source) {
        finish(Status::failed, sourceProblem(source.error()));
        co_return;
    }
    if (const auto problem = start(*source)) {
        finish(Status::failed, *problem);
        co_return;
    }
    if (m_status == Status::exporting) {
        co_await qCoro(this, &ExportSession::finished);
    }
}

void ExportSession::cancelExport()
{
    finish(Status::cancelled);
}

std::optional<QString> ExportSession::start(const MediaFramework::Description &source)
{
    const PresetRow &preset = presetRow(m_preset);
    if (const auto missing = missingElement(preset, source.audioTrackCount > 0)) {
        return QStringLiteral("缺少 GStreamer 组件：%1").arg(*missing);
    }
    if (!m_output.isLocalFile() || m_output.toLocalFile().isEmpty()) {
        return QStringLiteral("输出位置无效");
    }
    if (m_range && !(m_range->duration > 0)) {
        return QStringLiteral("所选片段为空");
    }

    auto p = std::make_unique<Pipeline>();
    p->owner = this;
    p->progress = &m_progress;
    p->preset = &preset;
    p->source = source;
    p->sourceRate = sourceVideoRate(source);
    p->range = m_range;
    p->pipeline = gst_pipeline_new(nullptr);
    GstElement *decoder = make("uridecodebin");
    p->muxer = make("mp4mux");
    GstElement *sink = make("filesink");
    // The moved index holds the user's pictures: private folder, else beside the output.
    const QString scratch = Files::scratchFolder();
    p->faststartFile = QDir(scratch.isEmpty() ? QFileInfo(m_output.toLocalFile()).absolutePath() : scratch)
                           .filePath(QStringLiteral("Slimreel-faststart-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    g_object_set(decoder, "uri", m_source.toString(QUrl::FullyEncoded).toUtf8().constData(), nullptr);
    g_object_set(p->muxer, "faststart", TRUE, "faststart-file", QFile::encodeName(p->faststartFile).constData(), nullptr);
    g_object_set(sink, "location", QFile::encodeName(m_output.toLocalFile()).constData(), "async", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(p->pipeline), decoder, p->muxer, sink, nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&Pipeline::onPadAdded), p.get());
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(&Pipeline::onNoMorePads), p.get());
    GstBus *bus = gst_pipeline_get_bus(GST_PIPELINE(p->pipeline));
    gst_bus_set_sync_handler(bus, &Pipeline::onMessage, p.get(), nullptr);
    gst_object_unref(bus);
    const bool linked = gst_element_link(p->muxer, sink);
    m_pipeline = std::move(p);
    if (!linked) {
        return QStringLiteral("无法建立导出管线");
    }
    if (m_range) {
        m_seekWatchdog.start();
    }
    if (gst_element_set_state(m_pipeline->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        drainBus(); // the element that refused has usually posted why
        if (m_status == Status::exporting) {
            return QStringLiteral("无法启动导出");
        }
    }
    return std::nullopt;
}

void ExportSession::drainBus()
{
    if (!m_pipeline) {
        return;
    }
    m_pipeline->wakePending = false;
    const std::vector<GstMessage *> messages = m_pipeline->takeMessages();
    for (GstMessage *message : messages) {
        if (!m_pipeline) {
            // finished by an earlier message
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError *error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            const QString text = error ? QString::fromUtf8(error->message) : QString();
            g_clear_error(&error);
            finish(Status::failed, text);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            // A range past the end gives a well-formed file without a single picture.
            if (m_pipeline->encodedPictures > 0) {
                finish(Status::completed);
            } else {
                finish(Status::failed, QStringLiteral("所选片段中没有画面"));
            }
        }
        gst_message_unref(message);
    }
    if (m_pipeline) {
        seekWhenHeld();
    }
}

void ExportSession::seekWhenHeld()
{
    Pipeline &p = *m_pipeline;
    if (!p.range || p.seekSent) {
        return;
    }
    GstPad *pad = nullptr;
    {
        const std::lock_guard lock(p.mutex);
        if (!p.noMorePads || !p.seekPad || p.branches == 0 || p.heldBranches < p.branches) {
            return;
        }
        pad = GST_PAD(gst_object_ref(p.seekPad));
    }
    p.seekSent = true;
    m_seekWatchdog.stop();
    const auto at = [](double seconds) { return static_cast<gint64>(std::llround(std::max(0.0, seconds) * GST_SECOND)); };
    GstEvent *seek = gst_event_new_seek(1.0, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                        GST_SEEK_TYPE_SET, at(p.range->start), GST_SEEK_TYPE_SET,
                                        at(p.range->start + p.range->duration));
    // Sent up one stream only: the demuxer seeks all of them, and the flush frees the held ones.
    const bool sought = gst_pad_send_event(pad, seek);
    gst_object_unref(pad);
    if (!sought) {
        finish(Status::failed, QStringLiteral("无法定位到所选片段"));
    }
}

void ExportSession::finish(Status status, QString message)
{
    if (m_status != Status::waiting && m_status != Status::exporting) {
        return;
    }
    tearDown();
    m_status = status;
    m_errorMessage = std::move(message);
    if (status == Status::completed) {
        m_progress = 1.0;
    }
    Q_EMIT finished();
}

void ExportSession::tearDown()
{
    m_seekWatchdog.stop();
    if (!m_pipeline) {
        return;
    }
    const std::unique_ptr<Pipeline> p = std::move(m_pipeline);
    // Stops and joins every streaming thread; nothing calls back after this.
    gst_element_set_state(p->pipeline, GST_STATE_NULL);
    GstBus *bus = gst_pipeline_get_bus(GST_PIPELINE(p->pipeline));
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    if (p->seekPad) {
        gst_object_unref(p->seekPad);
    }
    for (GstMessage *message : p->takeMessages()) {
        gst_message_unref(message);
    }
    gst_object_unref(p->pipeline);
    Files::removeFile(p->faststartFile);
}

} // namespace slimreel
