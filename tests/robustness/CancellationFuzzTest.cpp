#include "support/Fakes.h"

#include "compress/CompressionError.h"
#include "model/CompressionState.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <iostream>
#include <numeric>
#include <random>

using namespace slimreel;
using namespace slimreel::test;

namespace {

const QString summaryPrefix = QStringLiteral("批量压缩完成，其中 ");

QString name(const QUrl &url) { return QFileInfo(url.toLocalFile()).fileName(); }
QString standardPath(const QUrl &url) { return Files::standardized(url).toLocalFile(); }

// User operations first, then events of the fakes, with their weights.
enum Action {
    importFiles, selectOne, preview, changeSettings, runAll, cancelAll, removeSelected, removeOne, clearAll,
    replaceSelected, openProbe, openStats, succeedCall, failCall, reportProgress, dismiss, idle, actionCount
};
constexpr int weights[actionCount] = {10, 8, 8, 6, 6, 5, 3, 4, 2, 3, 10, 6, 10, 6, 6, 2, 4};

// One controller over stepped fakes driven through a random sequence of user actions and service events; its invariants
// are checked after every step. A seed gives one sequence.
class ControllerFuzzer {
public:
    ControllerFuzzer(std::uint64_t seed, int steps)
        : m_seed(seed), m_steps(steps), m_rng(seed)
    {
        // Each sequence is a different world: how the fakes behave is drawn too.
        m_probe->stepInspect = chance(0.85);
        m_probe->stepStats = chance(0.7);
        m_probe->endOnStop = chance(0.5);
        if (chance(0.2)) {
            m_probe->stats = std::unexpected(makeError(VideoProbeError::unreadable));
        } else {
            m_probe->stats = PreviewPacketStats{static_cast<std::int64_t>(1000 + below(100000)),
                                                1 + static_cast<std::int64_t>(below(5)), static_cast<std::int64_t>(below(400000))};
        }
        m_coordinator->cancelEndsCalls = chance(0.75);
        m_access->grant = chance(0.7);
        QDir(m_dir.path()).mkpath(QStringLiteral("out"));
        for (int i = 0; i < 7; ++i) {
            const QUrl url = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("v%1.mp4").arg(i)));
            if (i < 5) {
                m_probe->add(makeInfo(url, 1 + static_cast<double>(below(120)), 1 + static_cast<qint64>(below(200'000'000))));
            } else {
                m_probe->addFailure(url.toLocalFile(), VideoProbeError::unreadable);
            }
            m_pool << url;
        }
        m_pool << QUrl::fromLocalFile(m_dir.path() + QStringLiteral("/./v0.mp4")); // the same video, spelt otherwise

        m_vm = std::make_unique<AppViewModel>(m_probe, m_coordinator, m_access);
        QObject::connect(m_vm.get(), &AppViewModel::settingsChanged, m_vm.get(), &AppViewModel::settingsDidChange);
        QObject::connect(m_vm.get(), &AppViewModel::stateChanged, m_vm.get(), [this] {
            if (m_vm->state().is(CompressionState::Case::completed)) {
                m_completedInStep = true;
                m_progressAtCompletion = m_vm->progress();
            }
        });
        QObject::connect(m_vm.get(), &AppViewModel::alertMessageChanged, m_vm.get(),
                         [this] { m_alertTrail << m_vm->alertMessage().value_or(QString()); });
        m_log << QStringLiteral("world: stepInspect=%1 stepStats=%2 endOnStop=%3 statsOk=%4 cancelEndsCalls=%5 grant=%6")
                     .arg(m_probe->stepInspect).arg(m_probe->stepStats).arg(m_probe->endOnStop)
                     .arg(m_probe->stats.has_value()).arg(m_coordinator->cancelEndsCalls).arg(m_access->grant);
    }

    ~ControllerFuzzer()
    {
        // Let go of whatever is held, so that no task outlives its fakes.
        openAll();
        for (const qsizetype call : waitingCalls()) {
            m_coordinator->fail(call, CompressionError::cancelled());
        }
        m_vm.reset();
        processEvents(5);
    }

    // The first invariant broken with the steps that led to it, or an empty text.
    QString run()
    {
        for (int i = 0; i < m_steps && m_broken.isEmpty(); ++i) {
            step();
        }
        if (m_broken.isEmpty() && chance(0.25)) {
            m_log << QStringLiteral("the controller goes away");
            m_broken = destroyedViolation();
        }
        if (m_broken.isEmpty() && m_vm && !settleAll()) {
            m_broken = QStringLiteral("the controller did not come to rest");
        }
        if (m_broken.isEmpty() && m_vm) {
            m_broken = finalViolation();
        }
        return m_broken.isEmpty() ? QString()
                                  : QStringLiteral("seed %1: %2\n  %3").arg(m_seed).arg(m_broken, m_log.join(QStringLiteral("\n  ")));
    }

private:
    struct RunModel {
        QList<QUuid> ids;    // the queue when the run started
        QList<QUrl> urls;    // their sources
        bool current = true; // not cancelled, not ended
        int failures = 0;
        std::optional<std::stop_token> stop; // of its calls, once one is seen
    };

    template <typename T>
    T pick(const QList<T> &list) { return list.at(static_cast<qsizetype>(below(static_cast<std::uint64_t>(list.size())))); }
    std::uint64_t below(std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_rng); }
    static void processEvents(int turns)
    {
        for (int i = 0; i < turns; ++i) {
            QCoreApplication::processEvents();
        }
    }
    // Whether a gate was still closed.
    bool openAll()
    {
        bool held = false;
        for (const auto &gate : m_probe->inspectGates + m_probe->statsGates) {
            held = held || !gate->isOpen();
            gate->open();
        }
        return held;
    }
    QList<qsizetype> waitingCalls() const
    {
        QList<qsizetype> waiting;
        for (qsizetype i = 0; i < m_coordinator->calls.size(); ++i) {
            if (!m_coordinator->calls.at(i)->gate.isOpen()) {
                waiting << i;
            }
        }
        return waiting;
    }
    bool isRunCall(qsizetype call) const { return !m_coordinator->calls.at(call)->range.has_value(); }
    bool isCurrentRunCall(qsizetype call) const
    {
        return isRunCall(call) && !m_runs.isEmpty() && m_runs.last().current && m_runs.last().stop
               && *m_runs.last().stop == m_coordinator->calls.at(call)->stop;
    }
    void endRuns()
    {
        for (RunModel &run : m_runs) {
            run.current = false;
        }
    }
    void failCurrent(qsizetype call, const Error &error, qint64 partial = 0)
    {
        if (isCurrentRunCall(call)) {
            ++m_runs.last().failures;
        }
        m_coordinator->fail(call, error, partial);
    }
    // One step: `act`, `turns` of the event loop, then every check.
    void stepWith(const std::function<void()> &act, int turns)
    {
        const bool runWasCurrent = !m_runs.isEmpty() && m_runs.last().current;
        m_completedInStep = false;
        m_alertTrail.clear();
        m_alertBeforeStep = m_vm->alertMessage().value_or(QString());
        act();
        processEvents(turns);
        if (m_broken.isEmpty()) {
            observeCalls();
        }
        if (m_broken.isEmpty()) {
            m_broken = runEndViolation(runWasCurrent);
        }
        if (m_broken.isEmpty()) {
            m_broken = violation();
        }
    }

    void step()
    {
        auto roll = static_cast<int>(below(static_cast<std::uint64_t>(std::accumulate(std::begin(weights), std::end(weights), 0))));
        int choice = 0;
        while (roll >= weights[choice]) {
            roll -= weights[choice++];
        }
        // A random number of turns, so that steps interleave with the controller's resumptions in every order.
        stepWith([&] { act(choice); }, static_cast<int>(below(4)));
    }

    QString runEndViolation(bool runWasCurrent)
    {
        // Only the newest run, not cancelled, may complete, and its summary counts only its own failures. Other work may
        // follow in the same turn (a cancelled import finishing): the trail counts.
        const auto summary = std::ranges::find_if(m_alertTrail, [](const QString &a) { return a.startsWith(summaryPrefix); });
        const bool hasSummary = summary != m_alertTrail.end();
        if (!m_completedInStep) {
            return hasSummary ? QStringLiteral("a summary without the end of the current run") : QString();
        }
        if (!runWasCurrent) {
            return QStringLiteral("a run that is no longer current completed");
        }
        RunModel &run = m_runs.last();
        run.current = false;
        const QString expected = batchSummary(run.failures);
        if (run.failures == 0 && hasSummary) {
            return QStringLiteral("a summary for a run without failures: ") + *summary;
        }
        // An alert that already read the same summary is not announced again, and a later alert may replace it.
        const bool shown = (hasSummary && *summary == expected) || m_vm->alertMessage() == expected
                           || (!hasSummary && m_alertBeforeStep == expected);
        if (run.failures > 0 && !shown) {
            return QStringLiteral("summary '%1' for %2 failures").arg(hasSummary ? *summary : QString()).arg(run.failures);
        }
        return m_progressAtCompletion != 1 ? QStringLiteral("a completed run without full progress") : QString();
    }

    void act(int choice)
    {
        const auto &items = m_vm->batchItems();
        switch (static_cast<Action>(choice)) {
        case importFiles: {
            QList<QUrl> urls;
            QStringList names;
            for (auto count = 1 + below(3); count > 0; --count) {
                urls << pick(m_pool);
                names << name(urls.last());
            }
            const bool selectFirst = chance(0.3);
            m_log << QStringLiteral("import [%1]%2").arg(names.join(u','), selectFirst ? QStringLiteral(" selecting") : QString());
            m_vm->importVideos(urls, selectFirst);
            break;
        }
        case selectOne: {
            const QUuid id = !items.isEmpty() && chance(0.85) ? pick(items).id : QUuid::createUuid();
            m_log << QStringLiteral("select ") + id.toString();
            m_vm->selectItem(id);
            break;
        }
        case preview:
            m_log << QStringLiteral("generatePreview");
            m_vm->generatePreview();
            break;
        case changeSettings: {
            CompressionSettings changed = m_vm->settings();
            if (const auto which = below(3); which == 0) {
                changed.mode = changed.mode == CompressionMode::quality ? CompressionMode::targetSize : CompressionMode::quality;
            } else if (which == 1) {
                changed.plan = allCompressionPlans.at(below(allCompressionPlans.size()));
            } else {
                changed.targetSizeMB = 1 + static_cast<double>(below(200));
            }
            m_log << QStringLiteral("settings %1/%2/%3").arg(rawValue(changed.mode), rawValue(changed.plan)).arg(changed.targetSizeMB);
            m_vm->setSettings(changed);
            break;
        }
        case runAll:
            // As the window offers it: only while no import or run is active.
            m_log << QStringLiteral("compressAll (%1 items%2)").arg(items.size()).arg(m_vm->isBusy() ? ", refused: busy" : "");
            if (m_vm->isBusy()) {
                break;
            }
            if (!items.isEmpty()) {
                endRuns();
                RunModel run;
                for (const BatchVideoItem &item : items) {
                    run.ids << item.id;
                    run.urls << item.info.url;
                }
                m_runs << run;
            }
            m_vm->compressAll(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("out"))));
            break;
        case cancelAll:
            m_log << QStringLiteral("cancel");
            endRuns();
            m_vm->cancel();
            break;
        case removeSelected:
        case removeOne: {
            std::optional<QUuid> id;
            if (choice == removeOne) {
                id = !items.isEmpty() && chance(0.9) ? pick(items).id : QUuid::createUuid();
            }
            if ((choice == removeSelected || id == m_vm->selectedItemID()) && m_vm->selectedItemID() && m_vm->isBusy()) {
                endRuns(); // removing the selected video cancels the run
            }
            m_log << (id ? QStringLiteral("removeItem ") + id->toString() : QStringLiteral("removeVideo"));
            if (id) {
                m_vm->removeItem(*id);
            } else {
                m_vm->removeVideo();
            }
            break;
        }
        case clearAll:
            m_log << QStringLiteral("clearVideos");
            m_vm->clearVideos();
            break;
        case replaceSelected: {
            const QUrl url = pick(m_pool);
            m_log << QStringLiteral("replaceSelectedVideo ") + name(url);
            m_vm->replaceSelectedVideo(url);
            break;
        }
        case openProbe:
        case openStats: {
            const auto &gates = choice == openProbe ? m_probe->inspectGates : m_probe->statsGates;
            QList<qsizetype> closed;
            for (qsizetype i = 0; i < gates.size(); ++i) {
                if (!gates.at(i)->isOpen()) {
                    closed << i;
                }
            }
            if (!closed.isEmpty()) {
                const qsizetype chosen = pick(closed);
                m_log << QStringLiteral("%1 answers (#%2)").arg(choice == openProbe ? "probe" : "stats").arg(chosen);
                gates.at(chosen)->open();
            }
            break;
        }
        case succeedCall:
        case failCall:
        case reportProgress: {
            const QList<qsizetype> waiting = waitingCalls();
            if (waiting.isEmpty()) {
                break;
            }
            const qsizetype call = pick(waiting);
            const QString what = QStringLiteral("%1 encode #%2").arg(isRunCall(call) ? "run" : "sample").arg(call);
            if (choice == succeedCall) {
                const auto bytes = static_cast<qint64>(1 + below(5000));
                m_log << QStringLiteral("%1 succeeds (%2 bytes)").arg(what).arg(bytes);
                m_succeededCalls << call;
                m_coordinator->succeed(call, bytes);
            } else if (choice == failCall) {
                Error error = CompressionError::failed(QStringLiteral("boom %1").arg(call)).toError();
                if (chance(0.25)) {
                    error = CompressionError::cancelled().toError();
                } else if (chance(0.1)) {
                    error = Error::taskCancelled();
                }
                // A full run's partial output lies under the coordinator's own hidden name, not here.
                const auto partial = m_coordinator->calls.at(call)->range && chance(0.5) ? static_cast<qint64>(100 + below(1000)) : 0;
                m_log << QStringLiteral("%1 fails (%2, %3 partial bytes)").arg(what, error.description()).arg(partial);
                failCurrent(call, error, partial);
            } else {
                reportOn(call, static_cast<double>(below(1001)) / 1000.0);
            }
            break;
        }
        case dismiss:
            m_log << QStringLiteral("dismiss the alert");
            m_vm->dismissAlert();
            break;
        case idle:
        case actionCount:
            m_log << QStringLiteral("(events only)");
            break;
        }
    }

    // Progress of the current run moves its item and the whole; any other report changes nothing.
    void reportOn(qsizetype call, double fraction)
    {
        const auto &items = m_vm->batchItems();
        m_log << QStringLiteral("encode #%1 reports %2").arg(call).arg(fraction);
        const auto progressNow = [&] {
            QList<double> now{m_vm->progress()};
            for (const BatchVideoItem &item : items) {
                now << item.progress;
            }
            return now;
        };
        const QList<double> before = progressNow();
        if (const auto &progress = m_coordinator->calls.at(call)->progress) {
            progress(fraction);
        }
        if (!isCurrentRunCall(call)) {
            if (progressNow() != before) {
                m_broken = QStringLiteral("a report of a stale run or of a sample changed the progress");
            }
            return;
        }
        const RunModel &run = m_runs.last();
        const QString path = standardPath(m_coordinator->calls.at(call)->info.url);
        const auto at = std::ranges::find(run.urls, path, standardPath);
        const qsizetype position = at == run.urls.end() ? -1 : at - run.urls.begin();
        const double expected = (static_cast<double>(position) + fraction) / static_cast<double>(run.ids.size());
        const auto row = std::ranges::find(items, run.ids.value(position), &BatchVideoItem::id);
        if (row != items.end() && (row->progress != fraction || m_vm->progress() != expected)) {
            m_broken = QStringLiteral("progress of the current run not applied: item %1, overall %2, expected %3")
                           .arg(row->progress).arg(m_vm->progress()).arg(expected);
        }
    }

    void observeCalls()
    {
        for (; m_seenCalls < m_coordinator->calls.size() && m_broken.isEmpty(); ++m_seenCalls) {
            const auto &call = *m_coordinator->calls.at(m_seenCalls);
            if (call.range) {
                continue;
            }
            if (m_runs.isEmpty()) {
                m_broken = QStringLiteral("an encode without a run");
                return;
            }
            RunModel &run = m_runs.last();
            if (run.stop && *run.stop != call.stop) {
                m_broken = QStringLiteral("an encode started by a run that is not the newest");
                return;
            }
            run.stop = call.stop;
            const qsizetype position = run.urls.indexOf(call.info.url);
            if (position < 0) {
                m_broken = QStringLiteral("an encode of a video the run never had");
                return;
            }
            m_callItem.insert(m_seenCalls, run.ids.at(position));
        }
        if (m_coordinator->concurrentPeak() > 1) {
            m_broken = QStringLiteral("two encodes ran at once");
        }
    }

    QString violation() const
    {
        const auto &items = m_vm->batchItems();
        const auto &calls = m_coordinator->calls;
        const auto queued = [&](const QUuid &id) { return std::ranges::find(items, id, &BatchVideoItem::id) != items.end(); };
        const auto selected = m_vm->selectedItemID();
        const auto found = std::ranges::find(items, selected.value_or(QUuid()), &BatchVideoItem::id);
        const auto sample = m_vm->previewURL();
        // Stretches encoded for an estimate have ranges too; the sample is the newest preview file.
        const auto latest = std::find_if(calls.crbegin(), calls.crend(), [](const auto &c) {
            return c->range && name(c->destination).startsWith(QStringLiteral("Slimreel-preview-"));
        });
        const bool latestShown = sample && latest != calls.crend() && (*latest)->destination == *sample;
        QStringList allowed{sample ? name(*sample) : QString()}; // samples: the shown one, those being written
        for (const auto &call : calls) {
            if (call->range && !call->returned) {
                allowed << name(call->destination);
            }
        }
        for (qsizetype i = 0; i < m_probe->statsGates.size() && i < m_probe->statsRequests.size(); ++i) {
            if (!m_probe->statsGates.at(i)->isOpen()) { // an estimate's stretch lives while its packets are read
                allowed << name(m_probe->statsRequests.at(i));
            }
        }
        QStringList samplesLeft = tempEntries(QStringLiteral("Slimreel-preview-"))
                                  + tempEntries(QStringLiteral("Slimreel-estimate-"));
        samplesLeft.removeIf([&](const QString &file) { return allowed.contains(file); });
        QHash<QString, int> held; // started less stopped
        for (const QUrl &url : m_access->started) {
            ++held[standardPath(url)];
        }
        for (const QUrl &url : m_access->stopped) {
            --held[standardPath(url)];
        }
        QStringList paths;
        QStringList unheld;
        bool compressing = false;
        for (const BatchVideoItem &item : items) {
            paths << standardPath(item.info.url);
            if (m_access->grant && held.value(paths.last()) < 1) {
                unheld << name(item.info.url);
            }
            compressing = compressing || item.state.kind == BatchItemState::Case::compressing;
        }
        // Idle only once the back end has stopped every encode of a queued video.
        const QList<qsizetype> waiting = waitingCalls();
        const bool stillEncoding = std::ranges::any_of(waiting, [&](qsizetype call) { return queued(m_callItem.value(call)); });
        const bool busy = m_vm->isBusy();
        const std::pair<bool, QString> checks[] = {
            {selected && found == items.end(), "the selection is not in the queue"},
            {selected && found != items.end() && !(m_vm->video() && *m_vm->video() == found->info), "`video` does not match the selected item"},
            {!selected && m_vm->video(), "`video` without a selection"},
            {paths.removeDuplicates() > 0, "the same file is queued twice"},
            // The preview fields belong together and to the selected video.
            {!sample && m_vm->previewSizeEstimate(), "an estimate without a sample"},
            {sample && !QFileInfo(sample->toLocalFile()).isFile(), "the sample file is gone"},
            {sample && !latestShown, "the sample is not the newest one made"},
            {latestShown && !(m_vm->video() && standardPath((*latest)->info.url) == standardPath(m_vm->video()->url)),
             "the sample is of another video than the selected one"},
            {!samplesLeft.isEmpty(), "a sample file left behind: " + samplesLeft.join(u',')},
            {!unheld.isEmpty(), "no access held for queued " + unheld.join(u',')},
            {!busy && compressing, "an item still compressing while nothing runs"},
            {!busy && stillEncoding, "idle while an encode of a queued video still runs"},
            {m_vm->hasActiveTask() != (busy || m_vm->isGeneratingPreview()), "hasActiveTask disagrees with the state"},
        };
        for (const auto &[broken, text] : checks) {
            if (broken) {
                return text;
            }
        }
        return {};
    }

    // Ends everything the fakes hold, checking each round, until the controller is at rest.
    bool settleAll()
    {
        for (int round = 0; round < 5000; ++round) {
            bool held = false;
            stepWith([&] {
                held = openAll();
                for (const qsizetype call : waitingCalls()) {
                    held = true;
                    if (chance(0.7)) {
                        m_succeededCalls << call;
                        m_coordinator->succeed(call, static_cast<qint64>(1 + below(5000)));
                    } else {
                        failCurrent(call, CompressionError::failed(QStringLiteral("boom")).toError());
                    }
                }
            }, 5);
            if (!m_broken.isEmpty()) {
                m_broken = QStringLiteral("while settling: ") + m_broken;
                return true;
            }
            if (!held && !m_vm->hasRunningTasks() && waitingCalls().isEmpty()) {
                return true;
            }
        }
        return false;
    }

    // At rest, and once the controller has ended.
    QString finalViolation()
    {
        if (m_vm->isBusy()) {
            return QStringLiteral("work ended but the state is ") + m_vm->stateText();
        }
        if (m_vm->isGeneratingPreview() || m_vm->hasActiveTask()) {
            return QStringLiteral("work ended but a preview is still being made");
        }
        if (m_vm->currentItemName()) {
            return QStringLiteral("work ended but a current item is named");
        }
        m_vm->clearVideos();
        m_vm.reset();
        processEvents(5);
        if (!m_access->balanced()) {
            return QStringLiteral("file access not balanced after the controller ended");
        }
        if (const QStringList samples = tempEntries(QStringLiteral("Slimreel-preview-")); !samples.isEmpty()) {
            return QStringLiteral("sample files left after the controller ended: ") + samples.join(u',');
        }
        QStringList written;
        for (const qsizetype call : m_succeededCalls) {
            written << name(m_coordinator->calls.at(call)->destination);
        }
        for (const QString &file : QDir(m_dir.filePath(QStringLiteral("out"))).entryList(QDir::Files)) {
            if (!written.contains(file)) {
                return QStringLiteral("an output that no encode finished: ") + file;
            }
        }
        return {};
    }

    // The controller going away with work in flight: the work is stopped, nothing new starts, every access is stopped
    // and no sample stays, whatever the services answer afterwards.
    QString destroyedViolation()
    {
        const qsizetype calls = m_coordinator->calls.size();
        const bool encoding = !waitingCalls().isEmpty();
        const int cancels = m_coordinator->cancelCount;
        m_vm.reset();
        if (encoding && m_coordinator->cancelCount == cancels) {
            return QStringLiteral("the back end was not cancelled when the controller went away");
        }
        openAll();
        for (const qsizetype call : waitingCalls()) {
            if (!m_coordinator->calls.at(call)->stop.stop_requested()) {
                return QStringLiteral("an encode not stopped when the controller went away");
            }
            if (const auto &progress = m_coordinator->calls.at(call)->progress) {
                progress(0.5);
            }
            m_coordinator->succeed(call);
        }
        processEvents(5);
        if (m_coordinator->calls.size() != calls) {
            return QStringLiteral("an encode started after the controller went away");
        }
        if (!m_access->balanced()) {
            return QStringLiteral("file access not balanced after the controller went away");
        }
        const QStringList samples = tempEntries(QStringLiteral("Slimreel-preview-"));
        return samples.isEmpty() ? QString() : QStringLiteral("sample files left after the controller went away: ") + samples.join(u',');
    }

    std::uint64_t m_seed;
    int m_steps;
    std::mt19937_64 m_rng;
    QTemporaryDir m_dir;
    std::shared_ptr<FakeProbe> m_probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeCoordinator> m_coordinator = std::make_shared<FakeCoordinator>();
    std::shared_ptr<RecordingFileAccess> m_access = std::make_shared<RecordingFileAccess>();
    std::unique_ptr<AppViewModel> m_vm;
    QList<QUrl> m_pool;
    QList<RunModel> m_runs;
    qsizetype m_seenCalls = 0;
    QHash<qsizetype, QUuid> m_callItem; // run encodes: the item they compress
    QList<qsizetype> m_succeededCalls;
    bool m_completedInStep = false;
    QStringList m_alertTrail;
    QString m_alertBeforeStep; // what the alert read when the step began
    double m_progressAtCompletion = 0;
    QStringList m_log;
    QString m_broken;
};

std::uint64_t setting(const char *name, std::uint64_t fallback)
{
    bool ok = false;
    const std::uint64_t value = qgetenv(name).toULongLong(&ok);
    return ok ? value : fallback;
}

} // namespace

// Thousands of random sequences of every user action and every ordering of the services' answers.
TEST(CancellationFuzz, RandomSequencesKeepTheInvariants)
{
    const std::uint64_t sequences = setting("SLIMREEL_FUZZ_SEQUENCES", 2000);
    const std::uint64_t steps = setting("SLIMREEL_FUZZ_STEPS", 60);
    const std::uint64_t first = setting("SLIMREEL_FUZZ_SEED", 1);
    const PrivateTempFolder temp;
    int failures = 0;
    std::uint64_t run = 0;
    for (; run < sequences && failures < 3; ++run) {
        if (const QString broken = ControllerFuzzer(first + run, static_cast<int>(steps)).run(); !broken.isEmpty()) {
            ++failures;
            ADD_FAILURE() << broken.toStdString();
        }
    }
    std::cout << "[   FUZZ   ] " << run << " random sequences of " << steps << " steps from seed " << first << '\n';
    EXPECT_EQ(tempEntries(QStringLiteral("Slimreel-")), QStringList());
}

// What the sequences found: an import cancelled while it probes, the same file imported again meanwhile. When the old
// probe answers at last, the file is queued once, its access held once.
class LateImport : public ControllerTest {};

TEST_F(LateImport, ACancelledImportFinishingLateDoesNotQueueAFileTwice)
{
    probe->stepInspect = true;
    const QUrl clip = video(QStringLiteral("clip.mp4"));
    vm->importVideos({clip});
    ASSERT_EQ(probe->inspectGates.size(), 1);
    vm->cancel();
    ASSERT_TRUE(spinUntil([&] { return vm->stateText() == QLatin1String("idle"); }));
    vm->importVideos({clip});
    ASSERT_EQ(probe->inspectGates.size(), 2);
    probe->inspectGates.at(1)->open();
    ASSERT_TRUE(spinUntil([&] { return vm->batchItems().size() == 1; }));
    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(settle());
    EXPECT_EQ(queuedNames(), QStringList{"clip.mp4"});
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_EQ(access->started.size() - access->stopped.size(), 1);
    vm->clearVideos();
    EXPECT_TRUE(access->balanced());
}

// A run started after that import and cancelled too: when the old probe answers, the controller is still stopping the
// run's encode and stays busy until that has ended.
TEST_F(LateImport, ACancelledImportFinishingDuringAStoppingRunKeepsItBusy)
{
    probe->stepInspect = true;
    coordinator->cancelEndsCalls = false; // an encode that takes its time to stop
    const QUrl clip = video(QStringLiteral("clip.mp4"));
    const QUrl late = video(QStringLiteral("late.mp4"));
    vm->importVideos({clip});
    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(settle());
    vm->importVideos({late});
    vm->cancel();
    ASSERT_TRUE(spinUntil([&] { return vm->stateText() == QLatin1String("idle"); }));
    vm->compressAll(outputFolder());
    ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == 1; }));
    vm->cancel();
    probe->inspectGates.at(1)->open();
    drainEvents();
    EXPECT_EQ(vm->stateText(), "preparing") << "idle while the encode is still running";
    coordinator->fail(0, CompressionError::cancelled());
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "idle");
}
