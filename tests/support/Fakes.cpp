#include "support/Fakes.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QDir>
#include <QFile>
#include <QLocale>

namespace slimreel::test {

QString FakeProbe::key(const QUrl &url)
{
    return QDir::cleanPath(url.toLocalFile());
}

void FakeProbe::addFailure(const QString &path, VideoProbeError error)
{
    m_answers.insert(QDir::cleanPath(path), std::unexpected(makeError(error)));
}

QCoro::Task<Result<VideoInfo>> FakeProbe::inspect(QUrl url, std::stop_token stop) const
{
    inspected.append(url);
    if (stepInspect) {
        auto gate = std::make_shared<Gate>();
        inspectGates.append(gate);
        const std::stop_callback giveUp(endOnStop ? stop : std::stop_token{}, [gate] { gate->open(); });
        co_await gate->wait();
        if (endOnStop && stop.stop_requested()) {
            co_return std::unexpected(Error::taskCancelled());
        }
    }
    co_return m_answers.value(key(url), std::unexpected(makeError(VideoProbeError::unreadable)));
}

QCoro::Task<Result<PreviewPacketStats>> FakeProbe::packetStats(QUrl url, std::stop_token stop) const
{
    statsRequests.append(url);
    if (stepStats) {
        auto gate = std::make_shared<Gate>();
        statsGates.append(gate);
        const std::stop_callback giveUp(endOnStop ? stop : std::stop_token{}, [gate] { gate->open(); });
        co_await gate->wait();
        if (endOnStop && stop.stop_requested()) {
            co_return std::unexpected(Error::taskCancelled());
        }
    }
    co_return stats;
}

QCoro::Task<Result<void>> FakeCoordinator::compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                                    std::optional<TimeRange> range, ProgressCallback progress,
                                                    std::stop_token stop)
{
    auto call = std::make_shared<CompressCall>();
    call->info = std::move(info);
    call->settings = settings;
    call->destination = std::move(destination);
    call->range = range;
    call->progress = std::move(progress);
    call->stop = stop;
    calls.append(call);
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

namespace {
void writeBytes(const QUrl &url, qint64 bytes)
{
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << url.toLocalFile().toStdString();
        return;
    }
    file.write(QByteArray(bytes, 'x'));
}
} // namespace

void FakeCoordinator::succeed(qsizetype call, qint64 bytes)
{
    ASSERT_LT(call, calls.size());
    auto &c = *calls.at(call);
    ASSERT_FALSE(c.gate.isOpen()) << "call " << call << " already ended";
    if (c.range && !sampleSource.isEmpty()) {
        QFile::remove(c.destination.toLocalFile());
        EXPECT_TRUE(QFile::copy(sampleSource, c.destination.toLocalFile()));
    } else {
        writeBytes(c.destination, bytes);
    }
    c.result = {};
    c.gate.open();
}

void FakeCoordinator::fail(qsizetype call, Error error, qint64 partialBytes)
{
    ASSERT_LT(call, calls.size());
    auto &c = *calls.at(call);
    ASSERT_FALSE(c.gate.isOpen()) << "call " << call << " already ended";
    if (partialBytes > 0) {
        writeBytes(c.destination, partialBytes);
    }
    c.result = std::unexpected(std::move(error));
    c.gate.open();
}

qsizetype FakeCoordinator::waitingCount() const
{
    return std::ranges::count_if(calls, [](const auto &c) { return !c->gate.isOpen(); });
}

bool RecordingFileAccess::start(const QUrl &url)
{
    if (grant) {
        started.append(url);
    }
    return grant;
}

void RecordingFileAccess::stop(const QUrl &url)
{
    stopped.append(url);
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

VideoInfo makeInfo(const QUrl &url, double duration, qint64 fileSize)
{
    VideoInfo info;
    info.url = url;
    info.duration = duration;
    info.width = 1920;
    info.height = 1080;
    info.fileSize = fileSize;
    info.videoBitrate = 8'000'000;
    info.frameRate = 30;
    info.codec = QStringLiteral("H.264");
    info.audioTrackCount = 1;
    info.audioBitrate = 128'000;
    info.canCopyAudioToMP4 = true;
    return info;
}

ControllerTest::ControllerTest()
{
    // Byte counts are compared as text.
    QLocale::setDefault(QLocale::c());
    vm = std::make_unique<AppViewModel>(probe, coordinator, access);
    // As the window does: every settings change is reported back.
    QObject::connect(vm.get(), &AppViewModel::settingsChanged, vm.get(), &AppViewModel::settingsDidChange);
    QObject::connect(vm.get(), &AppViewModel::stateChanged, vm.get(),
                     [this] { stateHistory.append(vm->stateText()); });
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
    for (const auto &gate : std::as_const(probe->inspectGates)) {
        gate->open();
    }
    for (const auto &gate : std::as_const(probe->statsGates)) {
        gate->open();
    }
    vm.reset();
    drainEvents();
}

QUrl ControllerTest::url(const QString &name) const
{
    return QUrl::fromLocalFile(m_dir.filePath(name));
}

QUrl ControllerTest::video(const QString &name, double duration, qint64 fileSize)
{
    const QUrl u = url(name);
    probe->add(makeInfo(u, duration, fileSize));
    return u;
}

QUrl ControllerTest::unreadable(const QString &name)
{
    const QUrl u = url(name);
    probe->addFailure(u.toLocalFile(), VideoProbeError::unreadable);
    return u;
}

void ControllerTest::importNow(const QList<QUrl> &urls, bool selectFirst)
{
    vm->importVideos(urls, selectFirst);
    ASSERT_TRUE(settle());
}

bool ControllerTest::settle()
{
    return spinUntil([this] { return !vm->hasRunningTasks(); });
}

void ControllerTest::drainEvents()
{
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents();
    }
}

QString ControllerTest::itemState(qsizetype row) const
{
    return BatchQueueModel::stateText(vm->batchItems().at(row).state);
}

QStringList ControllerTest::queuedNames() const
{
    QStringList names;
    for (const auto &item : vm->batchItems()) {
        names << item.info.url.fileName();
    }
    return names;
}

} // namespace slimreel::test
