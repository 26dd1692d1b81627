#include "UiFakes.h"

#include "probe/VideoProbeError.h"

#include <QCoroSignal>
#include <QFile>

namespace slimreel::uitest {

QCoro::Task<Result<VideoInfo>> ScriptedProbe::inspect(QUrl url, std::stop_token) const
{
    inspected.append(url);
    if (holdInspect) {
        auto gate = std::make_shared<Gate>();
        inspectGates.append(gate);
        co_await gate->wait();
    }
    const auto found = m_known.constFind(url.toLocalFile());
    if (found == m_known.constEnd()) {
        co_return std::unexpected(makeError(VideoProbeError::unreadable));
    }
    co_return *found;
}

QCoro::Task<Result<PreviewPacketStats>> ScriptedProbe::packetStats(QUrl, std::stop_token) const
{
    co_return PreviewPacketStats{.keyFrameBytes = 200'000, .keyFrameCount = 2, .interFrameBytes = 1'800'000};
}

QCoro::Task<Result<void>> SteppedCompressor::compress(VideoInfo info, CompressionSettings, QUrl destination,
                                                      std::optional<TimeRange> range, ProgressCallback progress,
                                                      std::stop_token)
{
    auto call = std::make_shared<CompressCall>();
    call->info = info;
    call->destination = destination;
    call->range = range;
    call->progress = std::move(progress);
    calls.append(call);
    co_await call->gate.wait();
    if (call->result) {
        const QString path = destination.toLocalFile();
        QFile::remove(path);
        if (range && !sampleSource.isEmpty()) {
            QFile::copy(sampleSource, path);
        } else {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(QByteArray(1000, 'x'));
            }
        }
    }
    co_return call->result;
}

QCoro::Task<void> SteppedCompressor::cancel()
{
    for (const auto &call : calls) {
        if (!call->gate.isOpen()) {
            call->result = std::unexpected(Error::platform(QStringLiteral("cancelled")));
            call->gate.open();
        }
    }
    co_return;
}

void SteppedCompressor::finish(qsizetype call)
{
    calls.at(call)->gate.open();
}

void SteppedCompressor::fail(qsizetype call, const QString &message)
{
    calls.at(call)->result = std::unexpected(Error::platform(message));
    calls.at(call)->gate.open();
}

qsizetype SteppedCompressor::waiting() const
{
    return std::count_if(calls.begin(), calls.end(), [](const auto &call) { return !call->gate.isOpen(); });
}

} // namespace slimreel::uitest
