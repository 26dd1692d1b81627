#pragma once

#include "model/CompressionSettings.h"
#include "platform/ToolLocator.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <optional>
#include <vector>

namespace slimreel {

class ChildProcess;

// One encoder: its ffmpeg name and the options that favour speed (for the
// smallest plan's AV1 encoders also their constant-quality value).
struct VideoEncoder {
    QString name;
    QStringList speedOptions;

    friend bool operator==(const VideoEncoder &, const VideoEncoder &) = default;
};

// The encoders the fastest (H.264), recommended (HEVC) and smallest (AV1)
// plans use on this machine. Whatever else a family needs to be fed frames lives here as well,
// so the argument lists differ between families only where they must.
struct EncoderProfile {
    QString family;
    VideoEncoder h264;
    VideoEncoder hevc;
    QStringList deviceOptions; // before the input: the device to encode on
    QString uploadFilter;      // last in the filter chain: frames onto that device
    QString deviceNode;        // what must exist for the family to work at all; empty: nothing to check
    VideoEncoder av1;          // empty name: the family has no AV1 encoder

    // The encoder for fastestH264, speedHEVC or smallestAV1; the x264 plans never ask.
    const VideoEncoder &encoder(EncoderStrategy strategy) const;

    // What a one-frame trial encode with `encoder` runs (without the program).
    QStringList trialArguments(const VideoEncoder &encoder) const;

    static EncoderProfile macOS();
    static EncoderProfile nvenc();
    static EncoderProfile qsv();
    static EncoderProfile vaapi();
    static EncoderProfile software();

    // Hardware families worth a trial on this platform, most preferred first.
    static std::vector<EncoderProfile> hardwareCandidates();
    // Those of `candidates` whose device node exists: without it a trial cannot
    // pass, and every failed trial holds up the first encode by an ffmpeg start.
    static std::vector<EncoderProfile> withDevicePresent(std::vector<EncoderProfile> candidates);

    friend bool operator==(const EncoderProfile &, const EncoderProfile &) = default;
};

// Decides once which encoder profile this process uses: the first hardware
// family whose H.264 and HEVC encoders both pass a one-frame trial, else the
// software stand-ins; and, after that, the first family whose AV1 encoder
// passes one, else SVT-AV1. The trials run as child processes on the event loop.
class EncoderCatalog : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultWait{1000};

    explicit EncoderCatalog(ToolLocator ffmpeg = ToolLocator::forTool(QStringLiteral("ffmpeg")),
                            std::vector<EncoderProfile> candidates = EncoderProfile::hardwareCandidates(),
                            QObject *parent = nullptr);
    // A catalog whose answer is known; no trial ever runs.
    explicit EncoderCatalog(EncoderProfile fixed, QObject *parent = nullptr);

    // The catalog of this process. Needs the application object.
    static EncoderCatalog &shared();

    // Begins the trials unless they have begun; returns at once.
    void start();

    // The decided profile; waits at most `maxWait` for the trials (starting
    // them if needed) and answers the software stand-ins when they are late.
    QCoro::Task<EncoderProfile> profile(std::chrono::milliseconds maxWait = defaultWait);

    // The same for the smallest plan's AV1 encoder.
    QCoro::Task<EncoderProfile> av1Profile(std::chrono::milliseconds maxWait = defaultWait);

    std::optional<EncoderProfile> decision() const { return m_decision; }

    // Kills trials still running (at exit); their encoders then count as failed.
    void stopTrials();

Q_SIGNALS:
    void decided();
    void av1Decided();

private:
    QCoro::Task<void> decide();
    QCoro::Task<bool> passesTrial(QString ffmpeg, QStringList arguments);

    ToolLocator m_ffmpeg;
    std::vector<EncoderProfile> m_candidates;
    bool m_started = false;
    std::optional<EncoderProfile> m_decision;
    std::optional<EncoderProfile> m_av1Decision;
    QList<QPointer<ChildProcess>> m_trials;
};

} // namespace slimreel
