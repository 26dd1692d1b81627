#include "cli/CompressCommand.h"

#include "app/BatchQueueModel.h"
#include "cli/ControllerSession.h"
#include "model/Formatters.h"
#include "model/Numbers.h"
#include "platform/Files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <unistd.h>

namespace slimreel::cli {

namespace {

const QString command = QStringLiteral("compress");
const QString synopsis =
    QStringLiteral("slimreel-cli compress [--mode quality|targetSize] [--plan fastest|recommended|highQuality|smallest] "
                   "[--target-mb N] --output DIR [--verbose] FILE...");

// Shows the run's progress: bars redrawn in place on a terminal, otherwise one
// plain line per tenth of each video, so that logs stay readable. Changes are
// drawn from the event loop, at most ten times a second, so that a video's and
// the batch's numbers are always drawn together.
class ProgressView : public QObject {
public:
    ProgressView(AppViewModel &controller, bool terminal)
        : m_controller(controller)
        , m_terminal(terminal)
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &ProgressView::draw);
        connect(&controller, &AppViewModel::progressChanged, this, &ProgressView::schedule);
        connect(&controller, &AppViewModel::batchItemsChanged, this, &ProgressView::schedule);
        m_sinceDraw.start();
    }

    void finish()
    {
        m_timer.stop();
        if (m_terminal && m_drawn) {
            write(stdout, QStringLiteral("\r\033[K"));
        }
    }

private:
    static constexpr qint64 interval = 100; // milliseconds

    static QString bar(double fraction, int width)
    {
        const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * width);
        return QString(filled, QChar(0x2588)) + QString(width - filled, QChar(0x2591));
    }
    static int percent(double fraction) { return static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100); }
    static QString remaining(const QString &text) { return text.isEmpty() ? QString() : QStringLiteral(" · ") + text; }

    void schedule()
    {
        if (!m_timer.isActive()) {
            m_timer.start(static_cast<int>(std::max<qint64>(0, interval - m_sinceDraw.elapsed())));
        }
    }

    void draw()
    {
        m_sinceDraw.restart();
        const auto &items = m_controller.batchItems();
        const auto running = std::ranges::find_if(
            items, [](const BatchVideoItem &item) { return item.state.kind == BatchItemState::Case::compressing; });
        if (running == items.end()) {
            return;
        }
        const auto position = std::distance(items.begin(), running) + 1;
        const QString name = running->info.url.fileName();
        if (running->id != m_item) {
            m_item = running->id;
            m_step = -1;
        }
        if (m_terminal) {
            m_drawn = true;
            // One pass over the pattern: a file name may itself hold "%1".
            write(stdout, QStringLiteral("\r%1 %2 %3%%4  batch %5 %6/%7 %8%%9\033[K")
                              .arg(name, bar(running->progress, 20),
                                   QString::number(percent(running->progress)).rightJustified(3),
                                   remaining(m_controller.currentRemainingText()), bar(m_controller.progress(), 20),
                                   QString::number(position), QString::number(items.size()),
                                   QString::number(percent(m_controller.progress())).rightJustified(3),
                                   remaining(m_controller.batchRemainingText())));
            return;
        }
        const int step = percent(running->progress) / 10;
        if (step > m_step) {
            m_step = step;
            const QString batch = m_controller.batchRemainingText();
            write(stdout, QStringLiteral("[%1/%2] %3 %4%%5%6\n")
                              .arg(QString::number(position), QString::number(items.size()), name,
                                   QString::number(step * 10), remaining(m_controller.currentRemainingText()),
                                   batch.isEmpty() ? QString() : QStringLiteral("（全部") + batch + QStringLiteral("）")));
        }
    }

    AppViewModel &m_controller;
    bool m_terminal;
    bool m_drawn = false;
    QUuid m_item;
    int m_step = -1;
    QTimer m_timer;
    QElapsedTimer m_sinceDraw;
};

// One line per video: where its output went and what it saved, or why it failed.
QString resultLine(const BatchVideoItem &item)
{
    const QString name = item.info.url.fileName();
    switch (item.state.kind) {
    case BatchItemState::Case::completed: {
        const QString path = item.outputURL ? item.outputURL->toLocalFile() : QString();
        const Result<std::int64_t> size = Files::fileSize(path);
        QString line = QStringLiteral("%1: %2").arg(name, path);
        if (size) {
            line += QStringLiteral(" (%1 → %2").arg(Formatters::byteCount(item.info.fileSize),
                                                    Formatters::byteCount(*size));
            if (item.info.fileSize > 0) {
                const double saved = 1 - static_cast<double>(*size) / static_cast<double>(item.info.fileSize);
                line += QStringLiteral(", %1% smaller").arg(truncToInt64(100 * saved));
            }
            line += QLatin1Char(')');
        }
        return line;
    }
    case BatchItemState::Case::failed:
        return QStringLiteral("%1: failed: %2").arg(name, item.state.message);
    case BatchItemState::Case::pending:
    case BatchItemState::Case::compressing:
        break;
    }
    return QStringLiteral("%1: not compressed").arg(name);
}

} // namespace

QCoro::Task<int> compressCommand(QStringList arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Compresses videos into a folder, one after another."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Folder for the compressed videos; created if missing."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Print every ffmpeg and ffprobe command line run."));
    addSettingsOptions(parser);
    parser.addOptions({output, verbose});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Videos; relative paths start at the current folder."),
                                 QStringLiteral("FILE..."));
    if (const auto done = parseArguments(parser, arguments, command, synopsis)) {
        co_return *done;
    }
    const auto settings = readSettingsOptions(parser);
    if (!settings) {
        co_return usageError(command, synopsis, settings.error());
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        co_return usageError(command, synopsis, QStringLiteral("no files given"));
    }
    if (!parser.isSet(output)) {
        co_return usageError(command, synopsis, QStringLiteral("--output DIR is required"));
    }
    const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(parser.value(output)));
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir() || !QFileInfo(folder).isWritable()) {
        co_return usageError(command, synopsis, QStringLiteral("cannot write into the output folder '%1'").arg(folder));
    }

    ControllerSession session(parser.isSet(verbose));
    AppViewModel &controller = session.controller();
    const bool everyFileImported = co_await session.importFiles(files);
    if (session.interrupted()) {
        co_return exitInterrupted;
    }
    if (controller.batchItems().isEmpty()) {
        co_return exitFailure;
    }
    session.apply(*settings);

    ProgressView progress(controller, ::isatty(STDOUT_FILENO) == 1);
    controller.compressAll(QUrl::fromLocalFile(folder));
    co_await session.waitUntilIdle();
    progress.finish();

    bool everyVideoCompressed = true;
    for (const BatchVideoItem &item : controller.batchItems()) {
        write(stdout, resultLine(item) + QLatin1Char('\n'));
        everyVideoCompressed = everyVideoCompressed && item.state.kind == BatchItemState::Case::completed;
    }
    session.showAlert();
    if (session.interrupted()) {
        co_return exitInterrupted;
    }
    co_return everyFileImported && everyVideoCompressed ? exitSuccess : exitFailure;
}

} // namespace slimreel::cli
