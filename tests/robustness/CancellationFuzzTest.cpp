#include "support/Fakes.h"

#include "compress/CompressionError.h"
#include "model/CompressionState.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <ranges>

using namespace slimreel;
using namespace slimreel::test;

namespace {

const QString summaryPrefix = QStringLiteral("批量压缩完成，其中 ");

QString name(const QUrl &url) { return QFileInfo(url.toLocalFile()).fileName(); }
QString standardPath(const QUrl &url) { return Files::standardized(url).toLocalFile(); }

// The text of the first check that is broken, or an empty text.
QString firstBroken(std::initializer_list<std::pair<bool, QString>> checks)
{
    const auto broken = std::ranges::find(checks, true, &std::pair<bool, QString>::first);
    return broken == checks.end() ? QString() : broken->second;
}

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
    explicit ControllerFuzzer(std::uint64_t seed)
        : m_rng(seed)
    {
        // Each sequence is a different world: how the fakes behave is drawn too.
        m_probe->stepInspect = chance(0.85);
        m_probe->stepStats = chance(0.7);
        m_probe->endOnStop = chance(0.5);
        m_probe->stats = chance(0.2) ? Result<PreviewPacketStats>(std::unexpected(makeError(VideoProbeError::unreadable)))
                                     : PreviewPacketStats{static_cast<std::int64_t>(1000 + below(100000)),
                                                          1 + static_cast<std::int64_t>(below(5)),
                                                          static_cast<std::int64_t>(below(400000))};
        m_coordinator->cancelEndsCalls = chance(0.75);
        m_access->grant = chance(0.7);
        m_log << QStringLiteral("seed %1: stepInspect=%2 stepStats=%3 endOnStop=%4 statsOk=%5 cancelEndsCalls=%6 grant=%7")
                     .arg(seed).arg(m_probe->stepInspect).arg(m_probe->stepStats).arg(m_probe->endOnStop)
                     .arg(m_probe->stats.has_value()).arg(m_coordinator->cancelEndsCalls).arg(m_access->grant);
        QDir(m_dir.path()).mkpath(QStringLiteral("out"));
        for (int i = 0; i < 5; ++i) {
            m_probe->add(makeInfo(video(i), 1 + static_cast<double>(below(120)), 1 + static_cast<qint64>(below(200'000'000))));
        }
        m_vm = std::make_unique<AppViewModel>(m_probe, m_coordinator, m_access);
        QObject::connect(m_vm.get(), &AppViewModel::settingsChanged, m_vm.get(), &AppViewModel::settingsDidChange);
        QObject::connect(m_vm.get(), &AppViewModel::stateChanged, m_vm.get(), [this] {
            m_completedAt = m_vm->state().is(CompressionState::Case::completed) ? m_vm->progress() : m_completedAt;
        });
        QObject::connect(m_vm.get(), &AppViewModel::alertMessageChanged, m_vm.get(),
                         [this] { m_alertTrail << m_vm->alertMessage().value_or(QString()); });
    }

    // The first invariant broken with the world and steps that led to it, or an empty text.
    QString run(int steps)
    {
        for (int i = 0; i < steps && m_broken.isEmpty(); ++i) {
            step();
        }
        // Mostly the services then answer all until the controller rests; else it goes away mid-work, as after a break.
        const bool settle = m_broken.isEmpty() && !chance(0.25);
        for (int round = 0; settle && m_broken.isEmpty(); ++round) {
            stepWith([&] {
                openAll();
                for (qsizetype n = waitingCalls().size(); n > 0; --n) {
                    m_log << act(chance(0.7) ? succeedCall : failCall);
                }
            }, 5);
            if (!m_vm->hasRunningTasks() && waitingCalls().isEmpty()) {
                break;
            }
            check(round < 5000 ? QString() : QStringLiteral("the controller did not come to rest"));
        }
        check(endViolation(settle && m_broken.isEmpty()));
        return m_broken.isEmpty() ? QString() : m_broken + QStringLiteral("\n  ") + m_log.join(QStringLiteral("\n  "));
    }

private:
    // The newest run while it is neither cancelled nor ended, with the queue as it started.
    struct RunModel {
        QList<BatchVideoItem> items;
        int failures = 0;
        std::optional<std::stop_token> stop; // of its encodes, once one is seen
    };

    template <typename T>
    T pick(const QList<T> &list) { return list.at(static_cast<qsizetype>(below(static_cast<std::uint64_t>(list.size())))); }
    std::uint64_t below(std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_rng); }
    // Seven videos, of which the probe cannot read the last two, and the first spelt otherwise.
    QUrl video(std::uint64_t i) const
    {
        return QUrl::fromLocalFile(m_dir.path() + (i < 7 ? QStringLiteral("/v%1.mp4").arg(i) : QStringLiteral("/./v0.mp4")));
    }
    void check(const QString &broken) { m_broken = m_broken.isEmpty() ? broken : m_broken; }
    // A queued item's id, or now and then one the controller never gave out.
    QUuid someItem(double queued)
    {
        return !m_vm->batchItems().isEmpty() && chance(queued) ? pick(m_vm->batchItems()).id : QUuid::createUuid();
    }
    // Where the newest run has this video, or -1.
    qsizetype runPosition(const QUrl &url) const
    {
        const auto found = std::ranges::find(m_run->items, url, [](const BatchVideoItem &item) { return item.info.url; });
        return found == m_run->items.end() ? -1 : found - m_run->items.begin();
    }
    bool isCurrentRunCall(qsizetype call) const
    {
        return !m_coordinator->calls.at(call)->range && m_run && m_run->stop == m_coordinator->calls.at(call)->stop;
    }
    QList<qsizetype> waitingCalls() const
    {
        QList<qsizetype> waiting;
        std::ranges::copy_if(std::views::iota(0, m_coordinator->calls.size()), std::back_inserter(waiting),
                             [this](qsizetype i) { return !m_coordinator->calls.at(i)->gate.isOpen(); });
        return waiting;
    }
    // Lets the probe answer every question it holds.
    void openAll()
    {
        for (const auto &gate : m_probe->inspectGates + m_probe->statsGates) {
            gate->open();
        }
    }

    // One step: `act`, `turns` of the event loop, then every check.
    void stepWith(const std::function<void()> &act, int turns)
    {
        const bool runWasCurrent = m_run.has_value();
        m_completedAt.reset();
        m_alertTrail.clear();
        m_alertBeforeStep = m_vm->alertMessage().value_or(QString());
        act();
        for (int i = 0; i < turns; ++i) {
            QCoreApplication::processEvents();
        }
        check(observeCalls());
        check(runEndViolation(runWasCurrent));
        check(violation());
    }

    void step()
    {
        const auto action = static_cast<Action>(std::discrete_distribution<int>(std::begin(weights), std::end(weights))(m_rng));
        // A random number of turns, so that steps interleave with the controller's resumptions in every order.
        stepWith([&] { m_log << act(action); }, static_cast<int>(below(4)));
    }

    // Does one action; what it did, for the log.
    QString act(Action action)
    {
        const auto &items = m_vm->batchItems();
        const auto &calls = m_coordinator->calls;
        switch (action) {
        case importFiles: {
            QList<QUrl> urls(static_cast<qsizetype>(1 + below(3)));
            std::ranges::generate(urls, [&] { return video(below(8)); });
            const bool selectFirst = chance(0.3);
            m_vm->importVideos(urls, selectFirst);
            return QStringLiteral("import %1%2").arg(QUrl::toStringList(urls).join(u' '), selectFirst ? " selecting" : "");
        }
        case selectOne: {
            const QUuid id = someItem(0.85);
            m_vm->selectItem(id);
            return QStringLiteral("select ") + id.toString();
        }
        case preview:
            m_vm->generatePreview();
            return QStringLiteral("generatePreview");
        case changeSettings: {
            CompressionSettings changed = m_vm->settings();
            if (const auto which = below(3); which == 0) {
                changed.mode = changed.mode == CompressionMode::quality ? CompressionMode::targetSize : CompressionMode::quality;
            } else if (which == 1) {
                changed.plan = allCompressionPlans.at(below(allCompressionPlans.size()));
            } else {
                changed.targetSizeMB = 1 + static_cast<double>(below(200));
            }
            m_vm->setSettings(changed);
            return QStringLiteral("settings %1/%2/%3").arg(rawValue(changed.mode), rawValue(changed.plan))
                .arg(changed.targetSizeMB);
        }
        case runAll:
            // As the window offers it: only while no import or run is active.
            if (m_vm->isBusy()) {
                return QStringLiteral("compressAll refused: busy");
            }
            m_run = items.isEmpty() ? m_run : RunModel{items, 0, std::nullopt};
            m_vm->compressAll(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("out"))));
            return QStringLiteral("compressAll (%1 items)").arg(items.size());
        case cancelAll:
            m_run.reset();
            m_vm->cancel();
            return QStringLiteral("cancel");
        case removeSelected:
            // Removing the selected video cancels the run.
            m_run = m_vm->selectedItemID() && m_vm->isBusy() ? std::nullopt : m_run;
            m_vm->removeVideo();
            return QStringLiteral("removeVideo");
        case removeOne: {
            const QUuid id = someItem(0.9);
            m_run = id == m_vm->selectedItemID() && m_vm->isBusy() ? std::nullopt : m_run;
            m_vm->removeItem(id);
            return QStringLiteral("removeItem ") + id.toString();
        }
        case clearAll:
            m_vm->clearVideos();
            return QStringLiteral("clearVideos");
        case replaceSelected: {
            const QUrl url = video(below(8));
            m_vm->replaceSelectedVideo(url);
            return QStringLiteral("replaceSelectedVideo ") + url.toString();
        }
        case openProbe:
        case openStats: {
            const auto &gates = action == openProbe ? m_probe->inspectGates : m_probe->statsGates;
            auto closed = gates;
            closed.removeIf([](const auto &gate) { return gate->isOpen(); });
            if (closed.isEmpty()) {
                return QStringLiteral("(nothing to answer)");
            }
            const auto gate = pick(closed);
            gate->open();
            return QStringLiteral("%1 answers (#%2)").arg(action == openProbe ? "probe" : "stats").arg(gates.indexOf(gate));
        }
        case succeedCall:
        case failCall:
        case reportProgress: {
            const QList<qsizetype> waiting = waitingCalls();
            if (waiting.isEmpty()) {
                return QStringLiteral("(no encode to end)");
            }
            const qsizetype call = pick(waiting);
            const QString what = QStringLiteral("%1 encode #%2").arg(calls.at(call)->range ? "sample" : "run").arg(call);
            if (action == succeedCall) {
                const auto bytes = static_cast<qint64>(1 + below(5000));
                m_coordinator->succeed(call, bytes);
                return QStringLiteral("%1 succeeds (%2 bytes)").arg(what).arg(bytes);
            }
            if (action == reportProgress) {
                const double fraction = static_cast<double>(below(1001)) / 1000.0;
                check(reportOn(call, fraction));
                return QStringLiteral("%1 reports %2").arg(what).arg(fraction);
            }
            const Error error = chance(0.25) ? CompressionError::cancelled().toError()
                                : chance(0.1) ? Error::taskCancelled()
                                              : CompressionError::failed(QStringLiteral("boom %1").arg(call)).toError();
            // A full run's partial output lies under the coordinator's own hidden name, not here.
            const auto partial = calls.at(call)->range && chance(0.5) ? static_cast<qint64>(100 + below(1000)) : 0;
            if (isCurrentRunCall(call)) {
                ++m_run->failures;
            }
            m_coordinator->fail(call, error, partial);
            return QStringLiteral("%1 fails (%2, %3 partial bytes)").arg(what, error.description()).arg(partial);
        }
        case dismiss:
            m_vm->dismissAlert();
            return QStringLiteral("dismiss the alert");
        default:
            return QStringLiteral("(events only)");
        }
    }

    // A report of the current run moves its item and the whole to its place in the run; any other changes nothing.
    QString reportOn(qsizetype call, double fraction)
    {
        const CompressCall &c = *m_coordinator->calls.at(call);
        const qsizetype position = isCurrentRunCall(call) ? runPosition(c.info.url) : -1;
        QList<BatchVideoItem> items = m_vm->batchItems();
        double overall = m_vm->progress();
        const QUuid id = position < 0 ? QUuid() : m_run->items.at(position).id;
        if (const auto row = std::ranges::find(items, id, &BatchVideoItem::id); row != items.end()) {
            row->progress = fraction;
            overall = (static_cast<double>(position) + fraction) / static_cast<double>(m_run->items.size());
        }
        c.progress(fraction);
        return m_vm->batchItems() == items && m_vm->progress() == overall
                   ? QString()
                   : QStringLiteral("the report moved the progress to %1, not to %2").arg(m_vm->progress()).arg(overall);
    }

    // Ties each new encode of a run to the item it compresses.
    QString observeCalls()
    {
        for (qsizetype i = m_callItems.size(); i < m_coordinator->calls.size(); ++i) {
            const CompressCall &call = *m_coordinator->calls.at(i);
            if (call.range) {
                m_callItems << QUuid();
                continue;
            }
            // A run's encodes share its stop token, and each is of a video the run started with.
            const qsizetype position = m_run && m_run->stop.value_or(call.stop) == call.stop ? runPosition(call.info.url) : -1;
            if (position < 0) {
                return QStringLiteral("an encode that is not of a video of the newest run");
            }
            m_run->stop = call.stop;
            m_callItems << m_run->items.at(position).id;
        }
        return m_coordinator->concurrentPeak() > 1 ? QStringLiteral("two encodes ran at once") : QString();
    }

    // Only the newest run, not cancelled, may complete, and its summary counts only its own failures. Other work may
    // follow in the same turn (a cancelled import finishing): the trail counts.
    QString runEndViolation(bool runWasCurrent)
    {
        const auto found = std::ranges::find_if(m_alertTrail, [](const QString &a) { return a.startsWith(summaryPrefix); });
        const QString summary = found == m_alertTrail.end() ? QString() : *found;
        if (!m_completedAt || !runWasCurrent || !m_run) {
            return firstBroken({{m_completedAt.has_value(), "a run that is no longer current completed"},
                                {!summary.isEmpty(), "a summary without the end of the current run"}});
        }
        const int failures = std::exchange(m_run, std::nullopt)->failures;
        const QString expected = batchSummary(failures);
        // An alert that already read the same summary is not announced again, and a later alert may replace it.
        const bool shown = summary == expected || m_vm->alertMessage() == expected
                           || (summary.isEmpty() && m_alertBeforeStep == expected);
        return firstBroken({
            {failures == 0 && !summary.isEmpty(), "a summary for a run without failures: " + summary},
            {failures > 0 && !shown, QStringLiteral("summary '%1' for %2 failures").arg(summary).arg(failures)},
            {*m_completedAt != 1, "a completed run without full progress"},
        });
    }

    QString violation() const
    {
        const auto &items = m_vm->batchItems();
        const auto &calls = m_coordinator->calls;
        const auto selected = m_vm->selectedItemID();
        const auto found = std::ranges::find(items, selected.value_or(QUuid()), &BatchVideoItem::id);
        const auto sample = m_vm->previewURL();
        // Stretches encoded for an estimate have ranges too; the sample is the newest preview file.
        const auto latest = std::find_if(calls.crbegin(), calls.crend(), [](const auto &c) {
            return c->range && name(c->destination).startsWith(QStringLiteral("Slimreel-preview-"));
        });
        const bool latestShown = sample && latest != calls.crend() && (*latest)->destination == *sample;
        // Scratch files may be the sample shown, those being written and a stretch while its packets are read.
        QStringList scratch = tempEntries(QStringLiteral("Slimreel-"));
        scratch.removeAll(sample ? name(*sample) : QString());
        for (const auto &call : calls) {
            if (call->range && !call->returned) {
                scratch.removeAll(name(call->destination));
            }
        }
        for (qsizetype i = 0; i < m_probe->statsGates.size() && i < m_probe->statsRequests.size(); ++i) {
            if (!m_probe->statsGates.at(i)->isOpen()) {
                scratch.removeAll(name(m_probe->statsRequests.at(i)));
            }
        }
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
        const bool atRest = !m_vm->hasRunningTasks();
        const qsizetype heldAtRest = atRest ? m_access->started.size() - m_access->stopped.size() : 0;
        // Idle only once the back end has stopped every encode of a queued video.
        const bool stillEncoding = std::ranges::any_of(waitingCalls(), [&](qsizetype call) {
            return std::ranges::find(items, m_callItems.value(call), &BatchVideoItem::id) != items.end();
        });
        const bool busy = m_vm->isBusy();
        return firstBroken({
            {selected && found == items.end(), "the selection is not in the queue"},
            {selected && found != items.end() && !(m_vm->video() && *m_vm->video() == found->info),
             "`video` does not match the selected item"},
            {!selected && m_vm->video(), "`video` without a selection"},
            {paths.removeDuplicates() > 0, "the same file is queued twice"},
            // The preview fields belong together and to the selected video.
            {!sample && m_vm->previewSizeEstimate(), "an estimate without a sample"},
            {sample && !QFileInfo(sample->toLocalFile()).isFile(), "the sample file is gone"},
            {sample && !latestShown, "the sample is not the newest one made"},
            {latestShown && !(m_vm->video() && standardPath((*latest)->info.url) == standardPath(m_vm->video()->url)),
             "the sample is of another video than the selected one"},
            {!scratch.isEmpty(), "a scratch file left behind: " + scratch.join(u',')},
            {!unheld.isEmpty(), "no access held for queued " + unheld.join(u',')},
            {heldAtRest > (m_access->grant ? items.size() : 0), "file access held at rest beyond the queue"},
            {!busy && compressing, "an item still compressing while nothing runs"},
            {!busy && stillEncoding, "idle while an encode of a queued video still runs"},
            {m_vm->hasActiveTask() != (busy || m_vm->isGeneratingPreview()), "hasActiveTask disagrees with the state"},
            // With no task running, nothing is under way.
            {atRest && m_vm->hasActiveTask(), "no task runs but the state is " + m_vm->stateText() + " or a preview is made"},
            {atRest && m_vm->currentItemName(), "no task runs but a current item is named"},
        });
    }

    // The controller ending, at rest or with work in flight: its encodes are stopped, nothing new starts, every access
    // is stopped, no scratch file stays and every output is one an encode finished, whatever the services answer later.
    QString endViolation(bool atRest)
    {
        if (atRest) {
            m_vm->clearVideos();
        }
        const auto &calls = m_coordinator->calls;
        const qsizetype callsBefore = calls.size();
        const bool encoding = !waitingCalls().isEmpty();
        const int cancels = m_coordinator->cancelCount;
        m_vm.reset();
        const bool cancelled = !encoding || m_coordinator->cancelCount > cancels;
        openAll();
        bool stopped = true;
        for (const qsizetype call : waitingCalls()) {
            stopped = stopped && calls.at(call)->stop.stop_requested();
            calls.at(call)->progress(0.5);
            m_coordinator->succeed(call);
        }
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        QStringList outputs = QDir(m_dir.filePath(QStringLiteral("out"))).entryList(QDir::Files);
        outputs.removeIf([&](const QString &file) {
            const auto wrote = [&](const auto &c) { return c->gate.isOpen() && c->result && name(c->destination) == file; };
            return std::ranges::any_of(calls, wrote);
        });
        const QStringList scratch = tempEntries(QStringLiteral("Slimreel-"));
        return firstBroken({
            {!cancelled, "the back end was not cancelled when the controller went away"},
            {!stopped, "an encode not stopped when the controller went away"},
            {calls.size() != callsBefore, "an encode started after the controller went away"},
            {!m_access->balanced(), "file access not balanced after the controller went away"},
            {!scratch.isEmpty(), "scratch files left after the controller went away: " + scratch.join(u',')},
            {!outputs.isEmpty(), "an output that no encode finished: " + outputs.join(u',')},
        });
    }

    std::mt19937_64 m_rng;
    QTemporaryDir m_dir;
    std::shared_ptr<FakeProbe> m_probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeCoordinator> m_coordinator = std::make_shared<FakeCoordinator>();
    std::shared_ptr<RecordingFileAccess> m_access = std::make_shared<RecordingFileAccess>();
    std::unique_ptr<AppViewModel> m_vm;
    std::optional<RunModel> m_run;
    QList<QUuid> m_callItems; // for each encode seen, the item it compresses (none for a sample)
    std::optional<double> m_completedAt; // the progress when a run completed in this step
    QStringList m_alertTrail; // every alert of this step
    QString m_alertBeforeStep; // what the alert read when the step began
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
        if (const QString broken = ControllerFuzzer(first + run).run(static_cast<int>(steps)); !broken.isEmpty()) {
            ++failures;
            ADD_FAILURE() << broken.toStdString();
        }
    }
    std::cout << "[   FUZZ   ] " << run << " random sequences of " << steps << " steps from seed " << first << '\n';
}

// What the sequences found: an import cancelled while it probes, the same file imported again meanwhile. When the old
// probe answers at last, the file is queued once, its access held once.
class LateImport : public ControllerTest {};

TEST_F(LateImport, ACancelledImportFinishingLateDoesNotQueueAFileTwice)
{
    probe->stepInspect = true;
    const QUrl clip = video(QStringLiteral("clip.mp4"));
    vm->importVideos({clip});
    vm->cancel();
    ASSERT_TRUE(spinUntil([&] { return vm->stateText() == QLatin1String("idle"); }));
    vm->importVideos({clip});
    ASSERT_EQ(probe->inspectGates.size(), 2);
    probe->inspectGates.at(1)->open();
    ASSERT_TRUE(spinUntil([&] { return vm->batchItems().size() == 1; }));
    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(settle());
    EXPECT_EQ(queuedNames(), QStringList{"clip.mp4"});
    EXPECT_EQ(access->started.size() - access->stopped.size(), 1);
    vm->clearVideos();
    EXPECT_TRUE(access->balanced());
}

// A run started after that import and cancelled too: when the old probe answers, the controller is still stopping the
// run's encode and stays busy until that has ended.
TEST_F(LateImport, ACancelledImportFinishingDuringAStoppingRunKeepsItBusy)
{
    coordinator->cancelEndsCalls = false; // an encode that takes its time to stop
    importNow({video(QStringLiteral("clip.mp4"))});
    probe->stepInspect = true;
    vm->importVideos({video(QStringLiteral("late.mp4"))});
    vm->cancel();
    ASSERT_TRUE(spinUntil([&] { return vm->stateText() == QLatin1String("idle"); }));
    vm->compressAll(outputFolder());
    ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == 1; }));
    vm->cancel();
    probe->inspectGates.at(0)->open();
    drainEvents();
    EXPECT_EQ(vm->stateText(), "preparing") << "idle while the encode is still running";
    coordinator->fail(0, CompressionError::cancelled());
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "idle");
}
