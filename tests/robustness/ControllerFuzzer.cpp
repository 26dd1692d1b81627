#include "robustness/ControllerFuzzer.h"

#include "compress/CompressionError.h"
#include "platform/Files.h"
#include "probe/VideoProbeError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace slimreel::test {

namespace {

const QString summaryPrefix = QStringLiteral("批量压缩完成，其中 ");

QString shortId(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).left(4);
}

QString name(const QUrl &url)
{
    return url.toLocalFile().mid(url.toLocalFile().lastIndexOf(QLatin1Char('/')) + 1);
}

QString standardPath(const QUrl &url)
{
    return Files::standardized(url).toLocalFile();
}

// The actions, with their weights: user operations first, then events of the fakes.
enum Action {
    importFiles, selectOne, preview, changeSettings, runAll, cancelAll, removeSelected, removeOne, clearAll,
    replaceSelected, openProbe, openStats, succeedCall, failCall, reportProgress, dismiss, idle, actionCount
};
constexpr int weights[actionCount] = {10, 8, 8, 6, 6, 5, 3, 4, 2, 3, 10, 6, 10, 6, 6, 2, 4};

} // namespace

ControllerFuzzer::ControllerFuzzer(std::uint64_t seed, int steps)
    : m_seed(seed)
    , m_steps(steps)
    , m_rng(seed)
{
    // Each sequence is a different world: how the fakes behave is drawn too.
    m_probe->stepInspect = chance(0.85);
    m_probe->stepStats = chance(0.7);
    m_probe->endOnStop = chance(0.5);
    if (chance(0.2)) {
        m_probe->stats = std::unexpected(makeError(VideoProbeError::unreadable));
    } else {
        m_probe->stats = PreviewPacketStats{static_cast<std::int64_t>(1000 + below(100000)), 1 + static_cast<std::int64_t>(below(5)),
                                            static_cast<std::int64_t>(below(400000))};
    }
    m_coordinator->cancelEndsCalls = chance(0.75);
    m_access->grant = chance(0.7);

    QDir(m_dir.path()).mkpath(QStringLiteral("out"));
    for (int i = 0; i < 5; ++i) {
        const QUrl url = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("v%1.mp4").arg(i)));
        m_probe->add(makeInfo(url, 1 + static_cast<double>(below(120)), 1 + static_cast<qint64>(below(200'000'000))));
        m_pool << url;
    }
    for (int i = 0; i < 2; ++i) {
        const QUrl url = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("bad%1.mp4").arg(i)));
        m_probe->addFailure(url.toLocalFile(), VideoProbeError::unreadable);
        m_pool << url;
    }
    // Another spelling of the first file: the same video.
    m_pool << QUrl::fromLocalFile(m_dir.path() + QStringLiteral("/./v0.mp4"));

    m_vm = std::make_unique<AppViewModel>(m_probe, m_coordinator, m_access);
    QObject::connect(m_vm.get(), &AppViewModel::settingsChanged, m_vm.get(), &AppViewModel::settingsDidChange);
    QObject::connect(m_vm.get(), &AppViewModel::stateChanged, m_vm.get(), [this] {
        m_stateTrail << m_vm->state();
        if (m_vm->state().is(CompressionState::Case::completed)) {
            m_progressAtCompletion = m_vm->progress();
        }
    });
    QObject::connect(m_vm.get(), &AppViewModel::alertMessageChanged, m_vm.get(),
                     [this] { m_alertTrail << m_vm->alertMessage().value_or(QString()); });
    note(QStringLiteral("world: stepInspect=%1 stepStats=%2 endOnStop=%6 statsOk=%3 cancelEndsCalls=%4 grant=%5")
             .arg(m_probe->stepInspect)
             .arg(m_probe->stepStats)
             .arg(m_probe->stats.has_value())
             .arg(m_coordinator->cancelEndsCalls)
             .arg(m_access->grant)
             .arg(m_probe->endOnStop));
}

ControllerFuzzer::~ControllerFuzzer()
{
    // Whatever is still held is let go, so that no task outlives its fakes.
    for (const auto &gate : std::as_const(m_probe->inspectGates)) {
        gate->open();
    }
    for (const auto &gate : std::as_const(m_probe->statsGates)) {
        gate->open();
    }
    for (const qsizetype call : waitingCalls()) {
        m_coordinator->fail(call, CompressionError::cancelled());
    }
    m_vm.reset();
    drainEvents();
}

void ControllerFuzzer::note(const QString &line)
{
    m_log << line;
}

QString ControllerFuzzer::run()
{
    for (int i = 0; i < m_steps && m_broken.isEmpty(); ++i) {
        step();
    }
    if (m_broken.isEmpty() && !settleAll()) {
        m_broken = QStringLiteral("the controller did not come to rest");
    }
    if (m_broken.isEmpty()) {
        m_broken = quiescentViolation();
    }
    if (m_broken.isEmpty()) {
        m_broken = finalViolation();
    }
    if (m_broken.isEmpty()) {
        return {};
    }
    return QStringLiteral("seed %1: %2\n  %3").arg(m_seed).arg(m_broken, m_log.join(QStringLiteral("\n  ")));
}

void ControllerFuzzer::drainEvents()
{
    // A random number of turns of the event loop, so that steps interleave with
    // the controller's own resumptions in every order.
    const int turns = static_cast<int>(below(4));
    for (int i = 0; i < turns; ++i) {
        QCoreApplication::processEvents();
    }
}

QList<qsizetype> ControllerFuzzer::waitingCalls() const
{
    QList<qsizetype> waiting;
    for (qsizetype i = 0; i < m_coordinator->calls.size(); ++i) {
        if (!m_coordinator->calls.at(i)->gate.isOpen()) {
            waiting << i;
        }
    }
    return waiting;
}

bool ControllerFuzzer::isRunCall(qsizetype call) const
{
    return !m_coordinator->calls.at(call)->range.has_value();
}

bool ControllerFuzzer::isCurrentRunCall(qsizetype call) const
{
    return isRunCall(call) && !m_runs.isEmpty() && m_runs.last().current && m_runs.last().stop
           && *m_runs.last().stop == m_coordinator->calls.at(call)->stop;
}

void ControllerFuzzer::step()
{
    int total = 0;
    for (const int weight : weights) {
        total += weight;
    }
    auto roll = static_cast<int>(below(static_cast<std::uint64_t>(total)));
    int choice = 0;
    while (roll >= weights[choice]) {
        roll -= weights[choice++];
    }
    const bool runWasCurrent = !m_runs.isEmpty() && m_runs.last().current;
    m_stateTrail.clear();
    m_alertTrail.clear();
    m_alertBeforeStep = m_vm->alertMessage().value_or(QString());

    act(choice);
    if (!m_broken.isEmpty()) {
        return;
    }
    drainEvents();
    observeCalls();
    if (m_broken.isEmpty()) {
        m_broken = runEndViolation(runWasCurrent);
    }
    if (m_broken.isEmpty()) {
        m_broken = violation();
    }
}

QString ControllerFuzzer::runEndViolation(bool runWasCurrent)
{
    // Only the newest run, not cancelled, may complete, and only its own
    // failures are counted in its summary. Other work may follow in the same
    // turn of the event loop (a cancelled import finishing), so the states and
    // alerts the step passed through are what counts.
    const bool completed = std::ranges::any_of(m_stateTrail, [](const CompressionState &state) {
        return state.is(CompressionState::Case::completed);
    });
    const auto summary = std::ranges::find_if(m_alertTrail, [](const QString &alert) {
        return alert.startsWith(summaryPrefix);
    });
    if (!completed) {
        return summary == m_alertTrail.end() ? QString() : QStringLiteral("a summary without the end of the current run");
    }
    if (!runWasCurrent) {
        return QStringLiteral("a run that is no longer current completed");
    }
    RunModel &run = m_runs.last();
    run.current = false;
    const QString expected =
        summaryPrefix + QString::number(run.failures) + QStringLiteral(" 个视频失败。可在队列中查看原因。");
    if (run.failures == 0 && summary != m_alertTrail.end()) {
        return QStringLiteral("a summary for a run without failures: ") + *summary;
    }
    // An alert that already read the same summary is not announced again, and
    // a later alert of the same step (an import's) may replace it.
    const bool shown = (summary != m_alertTrail.end() && *summary == expected) || m_vm->alertMessage() == expected
                       || (summary == m_alertTrail.end() && m_alertBeforeStep == expected);
    if (run.failures > 0 && !shown) {
        return QStringLiteral("summary '%1' for %2 failures")
            .arg(summary == m_alertTrail.end() ? QString() : *summary)
            .arg(run.failures);
    }
    if (m_progressAtCompletion != 1) {
        return QStringLiteral("a completed run without full progress");
    }
    return {};
}

void ControllerFuzzer::act(int choice)
{
    const auto &items = m_vm->batchItems();
    const QUrl out = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("out")));
    switch (static_cast<Action>(choice)) {
    case importFiles: {
        QList<QUrl> urls;
        QStringList names;
        const auto count = 1 + below(3);
        for (std::uint64_t i = 0; i < count; ++i) {
            urls << pick(m_pool);
            names << name(urls.last());
        }
        const bool selectFirst = chance(0.3);
        note(QStringLiteral("import [%1]%2").arg(names.join(u','), selectFirst ? QStringLiteral(" selecting") : QString()));
        m_vm->importVideos(urls, selectFirst);
        break;
    }
    case selectOne: {
        if (!items.isEmpty() && chance(0.85)) {
            const BatchVideoItem &chosen = pick(items);
            note(QStringLiteral("select %1 (%2)").arg(name(chosen.info.url), shortId(chosen.id)));
            m_vm->selectItem(chosen.id);
        } else {
            note(QStringLiteral("select an unknown id"));
            m_vm->selectItem(QUuid::createUuid());
        }
        break;
    }
    case preview:
        note(QStringLiteral("generatePreview"));
        m_vm->generatePreview();
        break;
    case changeSettings: {
        CompressionSettings changed = m_vm->settings();
        switch (below(3)) {
        case 0:
            changed.mode = changed.mode == CompressionMode::quality ? CompressionMode::targetSize : CompressionMode::quality;
            break;
        case 1:
            changed.plan = allCompressionPlans.at(below(allCompressionPlans.size()));
            break;
        default:
            changed.targetSizeMB = 1 + static_cast<double>(below(200));
            break;
        }
        note(QStringLiteral("settings %1/%2/%3").arg(rawValue(changed.mode), rawValue(changed.plan)).arg(changed.targetSizeMB));
        m_vm->setSettings(changed);
        break;
    }
    case runAll:
        // As the window offers it: only while no import or run is active.
        if (m_vm->isBusy()) {
            note(QStringLiteral("(start refused: busy)"));
            break;
        }
        note(QStringLiteral("compressAll (%1 items)").arg(items.size()));
        if (!items.isEmpty()) {
            for (RunModel &run : m_runs) {
                run.current = false;
            }
            RunModel run;
            for (const BatchVideoItem &item : items) {
                run.ids << item.id;
                run.urls << item.info.url;
            }
            m_runs << run;
        }
        m_vm->compressAll(out);
        break;
    case cancelAll:
        note(QStringLiteral("cancel"));
        for (RunModel &run : m_runs) {
            run.current = false;
        }
        m_vm->cancel();
        break;
    case removeSelected:
    case removeOne: {
        std::optional<QUuid> id;
        if (choice == removeOne) {
            id = !items.isEmpty() && chance(0.9) ? pick(items).id : QUuid::createUuid();
        }
        const bool removesSelection = choice == removeSelected || id == m_vm->selectedItemID();
        if (removesSelection && m_vm->selectedItemID() && m_vm->isBusy()) {
            for (RunModel &run : m_runs) {
                run.current = false; // removeVideo cancels the run
            }
        }
        if (choice == removeSelected) {
            note(QStringLiteral("removeVideo"));
            m_vm->removeVideo();
        } else {
            note(QStringLiteral("removeItem %1").arg(shortId(*id)));
            m_vm->removeItem(*id);
        }
        break;
    }
    case clearAll:
        note(QStringLiteral("clearVideos"));
        m_vm->clearVideos();
        break;
    case replaceSelected: {
        const QUrl url = pick(m_pool);
        note(QStringLiteral("replaceSelectedVideo %1").arg(name(url)));
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
        if (closed.isEmpty()) {
            note(QStringLiteral("(nothing to open)"));
            break;
        }
        const qsizetype chosen = pick(closed);
        note(QStringLiteral("%1 answers (#%2)").arg(choice == openProbe ? QStringLiteral("probe") : QStringLiteral("stats")).arg(chosen));
        gates.at(chosen)->open();
        break;
    }
    case succeedCall:
    case failCall: {
        const QList<qsizetype> waiting = waitingCalls();
        if (waiting.isEmpty()) {
            note(QStringLiteral("(no encode to end)"));
            break;
        }
        const qsizetype call = pick(waiting);
        const QString what = isRunCall(call) ? QStringLiteral("run encode") : QStringLiteral("sample encode");
        if (choice == succeedCall) {
            const auto bytes = static_cast<qint64>(1 + below(5000));
            note(QStringLiteral("%1 #%2 succeeds (%3 bytes)").arg(what).arg(call).arg(bytes));
            m_succeededCalls << call;
            m_coordinator->succeed(call, bytes);
        } else {
            const auto partial = chance(0.5) ? static_cast<qint64>(100 + below(1000)) : 0;
            Error error = CompressionError::failed(QStringLiteral("boom %1").arg(call)).toError();
            if (chance(0.25)) {
                error = CompressionError::cancelled().toError();
            } else if (chance(0.1)) {
                error = Error::taskCancelled();
            }
            note(QStringLiteral("%1 #%2 fails (%3, %4 partial bytes)").arg(what).arg(call).arg(error.description()).arg(partial));
            if (isCurrentRunCall(call)) {
                ++m_runs.last().failures;
            }
            m_coordinator->fail(call, error, partial);
        }
        break;
    }
    case reportProgress: {
        const QList<qsizetype> waiting = waitingCalls();
        if (waiting.isEmpty()) {
            note(QStringLiteral("(no encode to report on)"));
            break;
        }
        const qsizetype call = pick(waiting);
        const double fraction = static_cast<double>(below(1001)) / 1000.0;
        note(QStringLiteral("encode #%1 reports %2").arg(call).arg(fraction));
        const double overallBefore = m_vm->progress();
        QList<double> itemsBefore;
        for (const BatchVideoItem &item : items) {
            itemsBefore << item.progress;
        }
        const auto &progress = m_coordinator->calls.at(call)->progress;
        if (progress) {
            progress(fraction);
        }
        if (isCurrentRunCall(call)) {
            const RunModel &run = m_runs.last();
            const QString path = standardPath(m_coordinator->calls.at(call)->info.url);
            qsizetype position = -1;
            for (qsizetype i = 0; i < run.urls.size(); ++i) {
                if (standardPath(run.urls.at(i)) == path) {
                    position = i;
                }
            }
            const double expected = (static_cast<double>(position) + fraction) / static_cast<double>(run.ids.size());
            const auto row = std::ranges::find(items, run.ids.value(position), &BatchVideoItem::id);
            if (position < 0) {
                m_broken = QStringLiteral("an encode of the current run for a video it never had");
            } else if (row != items.end() && (row->progress != fraction || m_vm->progress() != expected)) {
                m_broken = QStringLiteral("progress of the current run not applied: item %1, overall %2, expected %3")
                               .arg(row->progress)
                               .arg(m_vm->progress())
                               .arg(expected);
            }
        } else {
            bool unchanged = m_vm->progress() == overallBefore && itemsBefore.size() == items.size();
            for (qsizetype i = 0; unchanged && i < items.size(); ++i) {
                unchanged = items.at(i).progress == itemsBefore.at(i);
            }
            if (!unchanged) {
                m_broken = QStringLiteral("a report of a stale run or of a sample changed the progress");
            }
        }
        break;
    }
    case dismiss:
        note(QStringLiteral("dismiss the alert"));
        m_vm->dismissAlert();
        break;
    case idle:
    case actionCount:
        note(QStringLiteral("(events only)"));
        break;
    }
}

void ControllerFuzzer::observeCalls()
{
    for (; m_seenCalls < m_coordinator->calls.size(); ++m_seenCalls) {
        const auto &call = *m_coordinator->calls.at(m_seenCalls);
        if (call.range) {
            continue;
        }
        if (m_runs.isEmpty()) {
            m_broken = QStringLiteral("an encode without a run");
            return;
        }
        RunModel &run = m_runs.last();
        if (!run.stop) {
            run.stop = call.stop;
        } else if (*run.stop != call.stop) {
            m_broken = QStringLiteral("an encode started by a run that is not the newest");
            return;
        }
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

QString ControllerFuzzer::violation() const
{
    const auto &items = m_vm->batchItems();
    const auto selected = m_vm->selectedItemID();
    if (selected) {
        const auto found = std::ranges::find(items, *selected, &BatchVideoItem::id);
        if (found == items.end()) {
            return QStringLiteral("the selection is not in the queue");
        }
        if (!m_vm->video() || !(*m_vm->video() == found->info)) {
            return QStringLiteral("`video` does not match the selected item");
        }
    } else if (m_vm->video()) {
        return QStringLiteral("`video` without a selection");
    }

    QStringList paths;
    for (const BatchVideoItem &item : items) {
        paths << standardPath(item.info.url);
    }
    if (paths.removeDuplicates() > 0) {
        return QStringLiteral("the same file is queued twice");
    }

    // The preview fields belong together and to the selected video.
    if (!m_vm->previewURL()) {
        if (m_vm->previewSizeEstimate()) {
            return QStringLiteral("an estimate without a sample");
        }
    } else {
        const QString sample = m_vm->previewURL()->toLocalFile();
        if (!QFileInfo(sample).isFile()) {
            return QStringLiteral("the sample file is gone");
        }
        const auto latest = std::find_if(m_coordinator->calls.crbegin(), m_coordinator->calls.crend(),
                                         [](const auto &call) { return call->range.has_value(); });
        if (latest == m_coordinator->calls.crend() || (*latest)->destination != *m_vm->previewURL()) {
            return QStringLiteral("the sample is not the newest one made");
        }
        if (!m_vm->video() || standardPath((*latest)->info.url) != standardPath(m_vm->video()->url)) {
            return QStringLiteral("the sample is of another video than the selected one");
        }
    }
    // No sample file but the shown one and those still being written.
    QStringList allowed;
    if (m_vm->previewURL()) {
        allowed << QFileInfo(m_vm->previewURL()->toLocalFile()).fileName();
    }
    for (const auto &call : m_coordinator->calls) {
        if (call->range && !call->returned) {
            allowed << QFileInfo(call->destination.toLocalFile()).fileName();
        }
    }
    const QStringList samples =
        QDir(QDir::tempPath()).entryList({QStringLiteral("Slimreel-preview-*")}, QDir::Files | QDir::Hidden);
    for (const QString &sample : samples) {
        if (!allowed.contains(sample)) {
            return QStringLiteral("a sample file left behind: ") + sample;
        }
    }
    // A failed encode leaves nothing in the output folder (unless a later
    // encode was given the name that became free again).
    const auto &calls = m_coordinator->calls;
    for (qsizetype i = 0; i < calls.size(); ++i) {
        const auto &call = *calls.at(i);
        if (call.range || !call.returned || call.result || !QFileInfo::exists(call.destination.toLocalFile())) {
            continue;
        }
        const bool reused = std::any_of(calls.begin() + i + 1, calls.end(),
                                        [&](const auto &later) { return later->destination == call.destination; });
        if (!reused) {
            return QStringLiteral("a failed encode left its output: ") + name(call.destination);
        }
    }

    // Access: never stopped more often than started, and held for every queued file.
    const QHash<QString, int> held = heldAccess();
    for (auto it = held.cbegin(); it != held.cend(); ++it) {
        if (it.value() < 0) {
            return QStringLiteral("access stopped more often than started: ") + it.key();
        }
    }
    if (m_access->grant) {
        for (const BatchVideoItem &item : items) {
            if (held.value(standardPath(item.info.url)) < 1) {
                return QStringLiteral("no access held for queued ") + name(item.info.url);
            }
        }
    }
    if (!m_vm->isBusy()) {
        for (const BatchVideoItem &item : items) {
            if (item.state.kind == BatchItemState::Case::compressing) {
                return QStringLiteral("an item still compressing while nothing runs");
            }
        }
        // Idle only once the back end has stopped: no encode of a queued video
        // may still be running (one of a video taken out of the queue may).
        for (const qsizetype call : waitingCalls()) {
            const QUuid id = m_callItem.value(call);
            if (!id.isNull() && std::ranges::find(items, id, &BatchVideoItem::id) != items.end()) {
                return QStringLiteral("idle while encode #%1 of a queued video still runs").arg(call);
            }
        }
    }
    if (m_vm->hasActiveTask() != (m_vm->isBusy() || m_vm->isGeneratingPreview())) {
        return QStringLiteral("hasActiveTask disagrees with the state");
    }
    return {};
}

QHash<QString, int> ControllerFuzzer::heldAccess() const
{
    QHash<QString, int> held;
    for (const QUrl &url : m_access->started) {
        ++held[standardPath(url)];
    }
    for (const QUrl &url : m_access->stopped) {
        --held[standardPath(url)];
    }
    return held;
}

bool ControllerFuzzer::settleAll()
{
    for (int round = 0; round < 5000; ++round) {
        bool held = false;
        for (const auto &gate : std::as_const(m_probe->inspectGates)) {
            held = held || !gate->isOpen();
            gate->open();
        }
        for (const auto &gate : std::as_const(m_probe->statsGates)) {
            held = held || !gate->isOpen();
            gate->open();
        }
        for (const qsizetype call : waitingCalls()) {
            held = true;
            if (chance(0.7)) {
                m_succeededCalls << call;
                m_coordinator->succeed(call, static_cast<qint64>(1 + below(5000)));
            } else {
                if (isCurrentRunCall(call)) {
                    ++m_runs.last().failures;
                }
                m_coordinator->fail(call, CompressionError::failed(QStringLiteral("boom")).toError());
            }
        }
        const bool runWasCurrent = !m_runs.isEmpty() && m_runs.last().current;
        m_stateTrail.clear();
        m_alertTrail.clear();
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        observeCalls();
        if (m_broken.isEmpty()) {
            m_broken = runEndViolation(runWasCurrent);
        }
        if (!m_broken.isEmpty()) {
            m_broken = QStringLiteral("while settling: ") + m_broken;
            return true;
        }
        if (const QString broken = violation(); !broken.isEmpty()) {
            m_broken = QStringLiteral("while settling: ") + broken;
            return true;
        }
        if (!held && !m_vm->hasRunningTasks() && waitingCalls().isEmpty()) {
            note(QStringLiteral("settled after %1 rounds").arg(round));
            return true;
        }
    }
    return false;
}

QString ControllerFuzzer::quiescentViolation() const
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
    if (m_access->grant) {
        const QHash<QString, int> held = heldAccess();
        QHash<QString, int> queued;
        for (const BatchVideoItem &item : m_vm->batchItems()) {
            ++queued[standardPath(item.info.url)];
        }
        for (auto it = held.cbegin(); it != held.cend(); ++it) {
            if (it.value() != queued.value(it.key())) {
                return QStringLiteral("access to %1 held %2 times at rest").arg(it.key()).arg(it.value());
            }
        }
    }
    return {};
}

QString ControllerFuzzer::finalViolation()
{
    if (!m_vm->isBusy()) {
        m_vm->clearVideos();
    }
    m_vm.reset();
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    if (!m_access->balanced()) {
        return QStringLiteral("file access not balanced after the controller ended");
    }
    const QStringList samples = QDir(QDir::tempPath()).entryList({QStringLiteral("Slimreel-preview-*")}, QDir::Files);
    if (!samples.isEmpty()) {
        return QStringLiteral("sample files left after the controller ended: ") + samples.join(u',');
    }
    QStringList written;
    for (const qsizetype call : m_succeededCalls) {
        written << QFileInfo(m_coordinator->calls.at(call)->destination.toLocalFile()).fileName();
    }
    for (const QString &file : QDir(m_dir.filePath(QStringLiteral("out"))).entryList(QDir::Files)) {
        if (!written.contains(file)) {
            return QStringLiteral("an output that no encode finished: ") + file;
        }
    }
    return {};
}

} // namespace slimreel::test
