#pragma once

#include "app/AppFakes.h"
#include "app/AppViewModel.h"
#include "model/CompressionState.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <stop_token>

namespace slimreel::test {

// Drives one controller over stepped fakes through a random sequence of user
// actions and fake-service events, and checks the controller's invariants
// after every step. The same seed always gives the same sequence.
class ControllerFuzzer {
public:
    ControllerFuzzer(std::uint64_t seed, int steps);
    ~ControllerFuzzer();
    ControllerFuzzer(const ControllerFuzzer &) = delete;
    ControllerFuzzer &operator=(const ControllerFuzzer &) = delete;

    // Runs the sequence; the first invariant broken, with the steps that led
    // to it, or an empty text when every check held.
    QString run();

private:
    struct RunModel {
        QList<QUuid> ids;   // the queue when the run started
        QList<QUrl> urls;   // their sources
        bool current = true; // not cancelled, not ended
        int failures = 0;
        std::optional<std::stop_token> stop; // of its calls, once one is seen
    };

    void step();
    void act(int choice);
    void drainEvents();
    // Ends everything the fakes hold and lets the controller come to rest.
    bool settleAll();
    void observeCalls();
    QString runEndViolation(bool runWasCurrent);
    // How often access to each file is held now: started less stopped.
    QHash<QString, int> heldAccess() const;
    QString violation() const;
    QString quiescentViolation() const;
    QString finalViolation();

    template <typename T>
    T pick(const QList<T> &list)
    {
        return list.at(static_cast<qsizetype>(below(static_cast<std::uint64_t>(list.size()))));
    }
    std::uint64_t below(std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_rng); }
    QList<qsizetype> waitingCalls() const;
    bool isRunCall(qsizetype call) const;
    bool isCurrentRunCall(qsizetype call) const;
    void note(const QString &line);

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
    QList<CompressionState> m_stateTrail;
    QStringList m_alertTrail;
    QString m_alertBeforeStep; // what the alert read when the step began
    double m_progressAtCompletion = 0;
    QStringList m_log;
    QString m_broken;
};

} // namespace slimreel::test
