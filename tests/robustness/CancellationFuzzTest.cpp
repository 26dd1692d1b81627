#include "app/AppFakes.h"
#include "compress/CompressionError.h"
#include "robustness/ControllerFuzzer.h"
#include "robustness/Hygiene.h"
#include "support/TestSupport.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <iostream>
#include <ostream>

using namespace slimreel::test;

namespace {

std::uint64_t setting(const char *name, std::uint64_t fallback)
{
    bool ok = false;
    const std::uint64_t value = qgetenv(name).toULongLong(&ok);
    return ok ? value : fallback;
}

// Sequences of the regular run; SLIMREEL_FUZZ_SEQUENCES asks for more (see README).
constexpr std::uint64_t defaultSequences = 2000;
constexpr std::uint64_t defaultSteps = 60;
constexpr std::uint64_t defaultFirstSeed = 1;

} // namespace

// Thousands of random sequences of every user action and every ordering of
// the services' answers; the controller's invariants hold after each step.
TEST(CancellationFuzz, RandomSequencesKeepTheInvariants)
{
    const std::uint64_t sequences = setting("SLIMREEL_FUZZ_SEQUENCES", defaultSequences);
    const std::uint64_t steps = setting("SLIMREEL_FUZZ_STEPS", defaultSteps);
    const std::uint64_t first = setting("SLIMREEL_FUZZ_SEED", defaultFirstSeed);
    const PrivateTempFolder temp;
    int failures = 0;
    std::uint64_t run = 0;
    for (; run < sequences && failures < 3; ++run) {
        ControllerFuzzer fuzzer(first + run, static_cast<int>(steps));
        if (const QString broken = fuzzer.run(); !broken.isEmpty()) {
            ++failures;
            ADD_FAILURE() << broken.toStdString();
        }
    }
    std::cout << "[   FUZZ   ] " << run << " random sequences of " << steps << " steps from seed " << first << '\n';
    EXPECT_EQ(scratchLeftovers(temp.path()), QStringList());
}

// Seeds that once broke an invariant, kept as regular tests.
struct Sequence {
    std::uint64_t seed;
    int steps;
};

void PrintTo(const Sequence &sequence, std::ostream *out)
{
    *out << "seed " << sequence.seed << ", " << sequence.steps << " steps";
}

class CancellationFuzzSeed : public testing::TestWithParam<Sequence> {};

TEST_P(CancellationFuzzSeed, KeepsTheInvariants)
{
    const PrivateTempFolder temp;
    ControllerFuzzer fuzzer(GetParam().seed, GetParam().steps);
    const QString broken = fuzzer.run();
    EXPECT_TRUE(broken.isEmpty()) << broken.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Regressions, CancellationFuzzSeed,
                         testing::Values(
                             // A cancelled import finishing late queued a file a second time.
                             Sequence{4, 60}, Sequence{23, 60}, Sequence{40, 60},
                             // A cancelled import finishing late set the state to idle while
                             // a run started after it was still stopping its encode.
                             Sequence{1001926, 120}, Sequence{1002015, 120}, Sequence{1002066, 120},
                             // The check itself: a second run's summary, equal to the one still
                             // shown, replaced in the same step by an import's alert.
                             Sequence{2010895, 120}));

// What the sequences above found, as a plain test: an import cancelled while
// it probes, the same file imported again meanwhile. When the old probe
// answers at last, the file must still be queued once, with its access held once.
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

// An import cancelled while it probes, a run started afterwards and cancelled
// too: when the old probe answers, the controller is still stopping the run's
// encode and must stay busy until that has ended.
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

    coordinator->fail(0, slimreel::CompressionError::cancelled());
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "idle");
}
