#pragma once

#include "app/AppViewModel.h"
#include "model/CompressionSettings.h"
#include "platform/SleepInhibitor.h"

#include <QCommandLineParser>
#include <QObject>
#include <QStringList>

#include <QCoroTask>

#include <cstdio>
#include <expected>
#include <memory>
#include <optional>


namespace slimreel::cli {

// Exit codes shared by the commands that drive the controller.
enum ExitCode { exitSuccess = 0, exitFailure = 1, exitUsage = 2, exitInterrupted = 130 };

// The settings a command line may give; what is missing keeps the controller's choice.
struct SettingsOptions {
    std::optional<CompressionMode> mode;
    std::optional<CompressionPlan> plan;
    std::optional<double> targetSizeMB;
};

void addSettingsOptions(QCommandLineParser &parser);
// The options, or the usage error to print.
std::expected<SettingsOptions, QString> readSettingsOptions(const QCommandLineParser &parser);

// Parses the words after the command's name (`command`, e.g. "compress") with
// `synopsis` as the usage line. Returns an exit code when the command is
// already done: help shown, or a usage error printed.
std::optional<int> parseArguments(QCommandLineParser &parser, QStringList arguments, const QString &command,
                                  const QString &synopsis);
int usageError(const QString &command, const QString &synopsis, const QString &message);

// Writes UTF-8 text and flushes, so that lines interleave sensibly with a child's output.
void write(std::FILE *stream, const QString &text);
// Arguments quoted the way a POSIX shell would need them to be typed.
QString shellCommand(const QString &program, const QStringList &arguments);

// One controller driven the way the window drives it: settings changes are
// reported back, alerts are shown (on standard error) and dismissed. While it
// exists, SIGINT, SIGTERM and SIGHUP cancel the controller's work instead of killing
// the process, so that no encoder and no partial file outlive the command.
class ControllerSession : public QObject {
    Q_OBJECT
public:
    explicit ControllerSession(bool verbose, QObject *parent = nullptr);
    ~ControllerSession() override;

    AppViewModel &controller() { return *m_controller; }
    bool interrupted() const { return m_interrupted; }

    // Resumes once the controller has nothing running.
    QCoro::Task<> waitUntilIdle();
    // Imports the files (paths as given on the command line) and waits for the
    // import; true when every distinct file joined the queue.
    QCoro::Task<bool> importFiles(QStringList paths);
    void apply(const SettingsOptions &options);
    // Shows the controller's alert, if any, and dismisses it as the user would.
    void showAlert();

    static QUrl fileUrl(const QString &path);

private:
    void interrupt();

    SleepInhibitor m_inhibitor{QStringLiteral("正在压缩视频")}; // outlives the controller's last word
    std::unique_ptr<AppViewModel> m_controller;
    bool m_interrupted = false;
};

} // namespace slimreel::cli
