// Times the controller's own work from inside one process, the way a front end
// drives it: an import of many files, and preview samples one after another.
// Prints one JSON object per measurement; bench/run reads them.

#include "BenchSupport.h"

#include "app/AppViewModel.h"
#include "cli/ControllerSession.h"
#include "compress/EncoderCatalog.h"
#include "platform/Files.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <gst/gst.h>

#include <chrono>
#include <cstdio>

using namespace slimreel;

namespace {

// The encoder trials that every front end starts at launch are over before any
// measurement, as they are by the time a user acts.
QCoro::Task<EncoderProfile> encodersDecided()
{
    co_return co_await EncoderCatalog::shared().profile(std::chrono::seconds(60));
}

// Every file through the controller's import, timed from the call to the
// controller's idle signal.
QCoro::Task<int> importFiles(QStringList paths)
{
    cli::ControllerSession session(false);
    co_await encodersDecided();

    bench::recordCommands();
    const bench::Clock start = bench::Clock::now();
    const bool everyFile = co_await session.importFiles(paths);
    const bench::Clock end = bench::Clock::now();

    QJsonObject line = bench::elapsed(start, end);
    line[QStringLiteral("files")] = paths.size();
    line[QStringLiteral("imported")] = session.controller().batchItems().size();
    line[QStringLiteral("child_commands")] = bench::takeCommands().size();
    line[QStringLiteral("rss_kb")] = static_cast<qint64>(bench::residentKilobytes());
    bench::printLine(line);
    co_return everyFile ? 0 : 1;
}

// What one sample gave: its estimate and size, or nothing when it failed.
QJsonObject sampleResult(const AppViewModel &controller)
{
    QJsonObject result;
    if (const auto &estimate = controller.previewSizeEstimate()) {
        result[QStringLiteral("lower_bytes")] = static_cast<qint64>(estimate->lowerBound);
        result[QStringLiteral("upper_bytes")] = static_cast<qint64>(estimate->upperBound);
    }
    if (const auto &sample = controller.previewURL()) {
        result[QStringLiteral("sample_bytes")] = static_cast<qint64>(Files::fileSize(sample->toLocalFile()).value_or(-1));
    }
    return result;
}

// Preview samples of one video, `repeat` times in a row, each timed from
// generatePreview() to the controller's idle signal (the sample encoded and its
// packets read).
QCoro::Task<int> previews(QString path, cli::SettingsOptions options, int repeat)
{
    cli::ControllerSession session(false);
    AppViewModel &controller = session.controller();
    const QString encoders = (co_await encodersDecided()).family;
    const QStringList files{path};
    const bool imported = co_await session.importFiles(files);
    if (!imported) {
        co_return 1;
    }
    session.apply(options);

    int failures = 0;
    for (int run = 1; run <= repeat; ++run) {
        bench::recordCommands();
        const bench::Clock start = bench::Clock::now();
        // The moment the sample can be watched, which work for the estimate alone must not put off.
        std::optional<double> watchable;
        const auto shown = QObject::connect(&controller, &AppViewModel::previewURLChanged, [&] {
            if (controller.previewURL() && !watchable) {
                watchable = bench::Clock::now().wall - start.wall;
            }
        });
        controller.generatePreview();
        co_await session.waitUntilIdle();
        const bench::Clock end = bench::Clock::now();
        QObject::disconnect(shown);

        QJsonObject line = bench::elapsed(start, end);
        if (watchable) {
            line[QStringLiteral("watchable_s")] = *watchable;
        }
        line[QStringLiteral("run")] = run;
        line[QStringLiteral("encoders")] = encoders;
        line[QStringLiteral("commands")] = bench::takeCommands();
        line[QStringLiteral("launched_s")] = bench::takeLaunchTimes(start);
        line[QStringLiteral("rss_kb")] = static_cast<qint64>(bench::residentKilobytes());
        const QJsonObject result = sampleResult(controller);
        for (auto field = result.begin(); field != result.end(); ++field) {
            line.insert(field.key(), field.value());
        }
        if (!controller.previewURL()) {
            ++failures;
            session.showAlert();
        }
        bench::printLine(line);
    }
    co_return failures == 0 ? 0 : 1;
}

int usage(const char *message)
{
    std::fprintf(stderr,
                 "slimreel-bench: %s\n"
                 "Usage: slimreel-bench import FILE...\n"
                 "       slimreel-bench preview [--mode quality|targetSize] [--plan PLAN] [--repeat N] FILE\n",
                 message);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);

    QCommandLineParser parser;
    const QCommandLineOption mode(QStringLiteral("mode"), QStringLiteral("compression mode"), QStringLiteral("mode"),
                                  QStringLiteral("quality"));
    const QCommandLineOption plan(QStringLiteral("plan"), QStringLiteral("plan"), QStringLiteral("plan"),
                                  QStringLiteral("recommended"));
    const QCommandLineOption repeat(QStringLiteral("repeat"), QStringLiteral("samples in a row"), QStringLiteral("N"),
                                    QStringLiteral("1"));
    parser.addOptions({mode, plan, repeat});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("import or preview"));
    if (!parser.parse(QCoreApplication::arguments())) {
        return usage(qPrintable(parser.errorText()));
    }
    QStringList words = parser.positionalArguments();
    const QString command = words.isEmpty() ? QString() : words.takeFirst();
    if (words.isEmpty()) {
        return usage("no files given");
    }

    if (command == QLatin1String("import")) {
        return QCoro::waitFor(importFiles(words));
    }
    if (command == QLatin1String("preview")) {
        const auto chosenMode = compressionModeFromRaw(parser.value(mode));
        const auto chosenPlan = compressionPlanFromRaw(parser.value(plan));
        bool ok = false;
        const int count = parser.value(repeat).toInt(&ok);
        if (!chosenMode || !chosenPlan || !ok || count < 1 || words.size() != 1) {
            return usage("bad preview options");
        }
        return QCoro::waitFor(previews(words.first(), {chosenMode, chosenPlan, std::nullopt}, count));
    }
    return usage("unknown command");
}
