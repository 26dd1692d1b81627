#include "cli/EstimateCommand.h"

#include "cli/ControllerSession.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace slimreel::cli {

namespace {

const QString command = QStringLiteral("estimate");
const QString synopsis =
    QStringLiteral("slimreel-cli estimate [--mode quality|targetSize] [--plan fastest|recommended|highQuality|smallest] "
                   "[--target-mb N] [--json] [--verbose] FILE");

QJsonValue bytesOrNull(const std::optional<OutputSizeEstimate> &estimate, std::int64_t OutputSizeEstimate::*bound)
{
    return estimate ? QJsonValue(static_cast<qint64>((*estimate).*bound)) : QJsonValue();
}

QString asJson(const AppViewModel &controller)
{
    const auto expected = controller.expectedOutputSize();
    const VideoInfo &video = *controller.video();
    const QJsonObject object{
        {QStringLiteral("file"), video.url.toLocalFile()},
        {QStringLiteral("mode"), controller.modeText()},
        {QStringLiteral("plan"), controller.planText()},
        {QStringLiteral("targetSizeMB"), controller.targetSizeMB()},
        {QStringLiteral("sourceBytes"), static_cast<qint64>(video.fileSize)},
        {QStringLiteral("estimatedSizeText"), controller.estimatedSizeText()},
        {QStringLiteral("savingsText"), controller.savingsText()},
        {QStringLiteral("lowerBound"), bytesOrNull(expected, &OutputSizeEstimate::lowerBound)},
        {QStringLiteral("upperBound"), bytesOrNull(expected, &OutputSizeEstimate::upperBound)},
    };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

} // namespace

QCoro::Task<int> estimateCommand(QStringList arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Estimates the compressed size of one video, from a five-second sample in quality mode."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object with both texts and the bounds in bytes."));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Print every ffmpeg and ffprobe command line run."));
    addSettingsOptions(parser);
    parser.addOptions({json, verbose});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The video."));
    if (const auto done = parseArguments(parser, arguments, command, synopsis)) {
        co_return *done;
    }
    const auto settings = readSettingsOptions(parser);
    if (!settings) {
        co_return usageError(command, synopsis, settings.error());
    }
    if (parser.positionalArguments().size() != 1) {
        co_return usageError(command, synopsis, QStringLiteral("give exactly one file"));
    }

    ControllerSession session(parser.isSet(verbose));
    AppViewModel &controller = session.controller();
    const bool imported = co_await session.importFiles(parser.positionalArguments());
    if (session.interrupted()) {
        co_return exitInterrupted;
    }
    if (!imported) {
        co_return exitFailure;
    }
    session.apply(*settings);
    if (controller.settings().mode == CompressionMode::quality) {
        controller.generatePreview();
        co_await session.waitUntilIdle();
        session.showAlert();
    }
    if (session.interrupted()) {
        controller.clearVideos();
        co_return exitInterrupted;
    }

    const bool sampled = controller.settings().mode == CompressionMode::targetSize || controller.previewURL();
    if (parser.isSet(json)) {
        write(stdout, asJson(controller));
    } else {
        write(stdout, QStringLiteral("Estimated size: %1\nSavings: %2\n")
                          .arg(controller.estimatedSizeText(), controller.savingsText()));
    }
    // Throws the sample away.
    controller.clearVideos();
    co_return sampled ? exitSuccess : exitFailure;
}

} // namespace slimreel::cli
