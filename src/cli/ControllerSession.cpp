#include "cli/ControllerSession.h"

#include "compress/EncoderCatalog.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/QuitSignals.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <cmath>
#include <coroutine>

namespace slimreel::cli {

namespace {

const QString modeOption = QStringLiteral("mode");
const QString planOption = QStringLiteral("plan");
const QString targetOption = QStringLiteral("target-mb");

void printCommandLine(const QString &program, const QStringList &arguments)
{
    write(stderr, QStringLiteral("$ ") + shellCommand(program, arguments) + QLatin1Char('\n'));
}

// Resumes the awaiting coroutine on the controller's next becameIdle(), through
// a direct connection that is gone before the coroutine goes on.
struct NextIdle {
    AppViewModel *controller;
    QMetaObject::Connection connection;

    bool await_ready() const noexcept { return !controller->hasRunningTasks(); }
    void await_suspend(std::coroutine_handle<> waiter)
    {
        connection = QObject::connect(controller, &AppViewModel::becameIdle, controller, [this, waiter] {
            QObject::disconnect(connection);
            waiter.resume();
        });
    }
    void await_resume() const noexcept {}
};

} // namespace

void addSettingsOptions(QCommandLineParser &parser)
{
    parser.addOption({modeOption, QStringLiteral("Compression mode: quality or targetSize (default quality)."),
                      QStringLiteral("mode")});
    parser.addOption({planOption,
                      QStringLiteral("Plan in quality mode: fastest, recommended, highQuality or smallest (default recommended)."),
                      QStringLiteral("plan")});
    parser.addOption({targetOption,
                      QStringLiteral("Target size in megabytes for targetSize mode (default: half of the first "
                                     "video)."),
                      QStringLiteral("N")});
}

std::expected<SettingsOptions, QString> readSettingsOptions(const QCommandLineParser &parser)
{
    SettingsOptions options;
    if (parser.isSet(modeOption)) {
        options.mode = compressionModeFromRaw(parser.value(modeOption));
        if (!options.mode) {
            return std::unexpected(QStringLiteral("unknown mode '%1' (quality or targetSize)").arg(parser.value(modeOption)));
        }
    }
    if (parser.isSet(planOption)) {
        options.plan = compressionPlanFromRaw(parser.value(planOption));
        if (!options.plan) {
            return std::unexpected(QStringLiteral("unknown plan '%1' (fastest, recommended, highQuality or smallest)")
                                       .arg(parser.value(planOption)));
        }
    }
    if (parser.isSet(targetOption)) {
        bool ok = false;
        const double megabytes = parser.value(targetOption).toDouble(&ok);
        if (!ok || !std::isfinite(megabytes) || megabytes <= 0) {
            return std::unexpected(
                QStringLiteral("--target-mb needs a positive number, not '%1'").arg(parser.value(targetOption)));
        }
        options.targetSizeMB = megabytes;
    }
    return options;
}

std::optional<int> parseArguments(QCommandLineParser &parser, QStringList arguments, const QString &command,
                                  const QString &synopsis)
{
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    arguments.prepend(QStringLiteral("slimreel-cli ") + command);
    if (!parser.parse(arguments)) {
        return usageError(command, synopsis, parser.errorText());
    }
    if (parser.isSet(help)) {
        // Qt's usage line names only the program; this one names the command too.
        const QString text = parser.helpText();
        write(stdout, QStringLiteral("Usage: ") + synopsis + text.mid(text.indexOf(u'\n')));
        return exitSuccess;
    }
    return std::nullopt;
}

int usageError(const QString &command, const QString &synopsis, const QString &message)
{
    write(stderr, QStringLiteral("slimreel-cli %1: %2\nUsage: %3\nTry 'slimreel-cli %1 --help' for more information.\n")
                      .arg(command, message, synopsis));
    return exitUsage;
}

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

QString shellCommand(const QString &program, const QStringList &arguments)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    QStringList words;
    for (const QString &word : QStringList{program} + arguments) {
        if (plain.match(word).hasMatch()) {
            words << word;
        } else {
            QString quoted = word;
            quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
            words << QLatin1Char('\'') + quoted + QLatin1Char('\'');
        }
    }
    return words.join(QLatin1Char(' '));
}

ControllerSession::ControllerSession(bool verbose, QObject *parent)
    : QObject(parent)
    , m_controller(std::make_unique<AppViewModel>())
{
    // As the window does: every settings change is reported back.
    connect(m_controller.get(), &AppViewModel::settingsChanged, m_controller.get(),
            &AppViewModel::settingsDidChange);
    if (verbose) {
        ChildProcess::setCommandObserver(&printCommandLine);
    }
    // No suspend in the middle of a run or a sample.
    connect(m_controller.get(), &AppViewModel::hasActiveTaskChanged, &m_inhibitor,
            [this] { m_inhibitor.setHeld(m_controller->hasActiveTask()); });
    // Hardware encoder trials run while the files are inspected.
    EncoderCatalog::shared().start();

    connect(new QuitSignals(this), &QuitSignals::received, this, &ControllerSession::interrupt);
}

ControllerSession::~ControllerSession()
{
    ChildProcess::setCommandObserver(nullptr);
    // The controller deletes a preview sample it still holds.
    m_controller.reset();
}

void ControllerSession::interrupt()
{
    if (!m_interrupted) {
        write(stderr, QStringLiteral("Stopping…\n"));
    }
    m_interrupted = true;
    m_controller->cancel();
}

QCoro::Task<> ControllerSession::waitUntilIdle()
{
    while (m_controller->hasRunningTasks()) {
        co_await NextIdle{m_controller.get(), {}};
    }
}

QUrl ControllerSession::fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
}

QCoro::Task<bool> ControllerSession::importFiles(QStringList paths)
{
    QList<QUrl> urls;
    QSet<QString> distinct;
    for (const QString &path : std::as_const(paths)) {
        const QUrl url = fileUrl(path);
        if (!distinct.contains(Files::standardized(url).path())) {
            distinct.insert(Files::standardized(url).path());
            urls << url;
        }
    }
    // One file at a time: the controller's alert shows the first three
    // failures of an import, and a command line must name every one.
    for (const QUrl &url : std::as_const(urls)) {
        if (m_interrupted) {
            break;
        }
        m_controller->importVideos({url});
        co_await waitUntilIdle();
        showAlert();
    }
    co_return m_controller->batchItems().size() == distinct.size();
}

void ControllerSession::apply(const SettingsOptions &options)
{
    CompressionSettings settings = m_controller->settings();
    settings.mode = options.mode.value_or(settings.mode);
    settings.plan = options.plan.value_or(settings.plan);
    settings.targetSizeMB = options.targetSizeMB.value_or(settings.targetSizeMB);
    m_controller->setSettings(settings);
}

void ControllerSession::showAlert()
{
    if (const auto message = m_controller->alertMessage()) {
        write(stderr, *message + QLatin1Char('\n'));
        m_controller->dismissAlert();
    }
}

} // namespace slimreel::cli
