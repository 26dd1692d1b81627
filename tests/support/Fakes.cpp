#include "support/Fakes.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QDir>
#include <QLocale>

namespace slimreel::test {

QString FakeProbe::key(const QUrl &url)
{
    return QDir::cleanPath(url.toLocalFile());
}

QCoro::Task<> Gate::wait()
{
    if (!m_open) {
        co_await qCoro(this, &Gate::opened);
    }
}

// When `step`, waits at a new gate; whether the caller gave up meanwhile (and the fake ends with it).
QCoro::Task<bool> FakeProbe::stepped(bool step, QList<std::shared_ptr<Gate>> &gates, std::stop_token stop) const
{
    if (!step) {
        co_return false;
    }
    auto gate = gates.emplace_back(std::make_shared<Gate>());
    const std::stop_callback giveUp(endOnStop ? stop : std::stop_token{}, [gate] { gate->open(); });
    co_await gate->wait();
    co_return endOnStop && stop.stop_requested();
}

QCoro::Task<Result<VideoInfo>> FakeProbe::inspect(QUrl url, std::stop_token stop) const
{
    inspected.append(url);
    const bool gaveUp = co_await stepped(stepInspect, inspectGates, stop); // (GCC 12 miscompiles a co_await in a condition)
    if (gaveUp) {
        co_return std::unexpected(Error::taskCancelled());
    }
    co_return m_answers.value(key(url), std::unexpected(makeError(VideoProbeError::unreadable)));
}

QCoro::Task<Result<PreviewPacketStats>> FakeProbe::packetStats(QUrl url, std::stop_token stop, std::optional<double> shownBefore) const
{
    statsRequests.append(url);
    statsShownBefore.append(shownBefore);
    const bool gaveUp = co_await stepped(stepStats, statsGates, stop); // (GCC 12 miscompiles a co_await in a condition)
    if (gaveUp) {
        co_return std::unexpected(Error::taskCancelled());
    }
    co_return stats;
}

QCoro::Task<Result<std::vector<std::int64_t>>> FakeProbe::videoBytesPerSecond(QUrl, std::stop_token) const
{
    co_return seconds;
}

QCoro::Task<Result<void>> FakeCoordinator::compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                                    std::optional<TimeRange> range, ProgressCallback progress,
                                                    std::stop_token stop)
{
    const auto call = calls.emplace_back(
        std::make_shared<CompressCall>(std::move(info), settings, std::move(destination), range, std::move(progress), stop));
    m_peak = std::max(m_peak, ++m_running);
    co_await call->gate.wait();
    --m_running;
    call->returned = true;
    co_return call->result;
}

QCoro::Task<void> FakeCoordinator::cancel()
{
    ++cancelCount;
    if (cancelEndsCalls) {
        for (qsizetype i = 0; i < calls.size(); ++i) {
            if (!calls.at(i)->gate.isOpen()) {
                fail(i, CompressionError::cancelled());
            }
        }
    }
    co_return;
}

void FakeCoordinator::succeed(qsizetype call, qint64 bytes)
{
    ASSERT_LT(call, calls.size());
    auto &c = *calls.at(call);
    ASSERT_FALSE(c.gate.isOpen()) << "call " << call << " already ended";
    const bool video = c.range && !sampleSource.isEmpty();
    EXPECT_TRUE(writeFile(c.destination.toLocalFile(), video ? readFile(sampleSource) : QByteArray(bytes, 'x')));
    c.result = {};
    c.gate.open();
}

void FakeCoordinator::fail(qsizetype call, Error error, qint64 partialBytes)
{
    ASSERT_LT(call, calls.size());
    auto &c = *calls.at(call);
    ASSERT_FALSE(c.gate.isOpen()) << "call " << call << " already ended";
    if (partialBytes > 0) {
        EXPECT_TRUE(writeFile(c.destination.toLocalFile(), QByteArray(partialBytes, 'x')));
    }
    c.result = std::unexpected(std::move(error));
    c.gate.open();
}

bool RecordingFileAccess::balanced() const
{
    QList<QUrl> a = started;
    QList<QUrl> b = stopped;
    const auto byText = [](const QUrl &x, const QUrl &y) { return x.toString() < y.toString(); };
    std::ranges::sort(a, byText);
    std::ranges::sort(b, byText);
    return a == b;
}

ControllerTest::ControllerTest()
{
    // Byte counts are compared as text.
    QLocale::setDefault(QLocale::c());
    vm = std::make_unique<AppViewModel>(probe, coordinator, access);
    // As the window does: every settings change is reported back.
    QObject::connect(vm.get(), &AppViewModel::settingsChanged, vm.get(), &AppViewModel::settingsDidChange);
    QDir(m_dir.path()).mkpath(QStringLiteral("out"));
}

ControllerTest::~ControllerTest()
{
    // Let whatever the test left running end, so no task outlives its fakes' test.
    for (qsizetype i = 0; i < coordinator->calls.size(); ++i) {
        if (!coordinator->calls.at(i)->gate.isOpen()) {
            coordinator->fail(i, CompressionError::cancelled());
        }
    }
    for (const auto &gate : probe->inspectGates + probe->statsGates) {
        gate->open();
    }
    vm.reset();
    drainEvents();
}

void ControllerTest::drainEvents()
{
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents();
    }
}

QStringList fileNames(const QList<BatchVideoItem> &items)
{
    QStringList names;
    for (const BatchVideoItem &item : items) {
        names << item.info.url.fileName();
    }
    return names;
}

} // namespace slimreel::test
