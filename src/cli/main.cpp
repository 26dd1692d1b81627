#include "cli/CompressCommand.h"
#include "cli/EstimateCommand.h"
#include "cli/ProbeCommand.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QStringList>

#include <gst/gst.h>

#include <array>
#include <cstdio>

namespace {

// The subcommands: each lives in its own file and resolves to an exit code.
struct Command {
    const char *name;
    const char *summary;
    QCoro::Task<int> (*run)(QStringList arguments);
};

constexpr std::array commands{
    Command{"probe", "inspect video files and print what Slimreel reads from them", &slimreel::cli::probeCommand},
    Command{"compress", "compress videos into a folder, one after another", &slimreel::cli::compressCommand},
    Command{"estimate", "estimate the compressed size of a video", &slimreel::cli::estimateCommand},
};

QString overview()
{
    QString text = QStringLiteral("Usage: slimreel-cli COMMAND [options] ...\n\n"
                                  "Slimreel makes video files smaller on your own machine.\n\nCommands:\n");
    for (const Command &command : commands) {
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(command.name), -10).arg(QLatin1String(command.summary));
    }
    return text + QStringLiteral("\nRun 'slimreel-cli COMMAND --help' for the options of one command.\n");
}

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("slimreel-cli"));

    const QStringList arguments = QCoreApplication::arguments();
    const QString name = arguments.value(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        write(stdout, overview());
        return 0;
    }
    const auto command = std::ranges::find_if(commands, [&](const Command &c) { return name == QLatin1String(c.name); });
    if (command == commands.end()) {
        write(stderr, (name.isEmpty() ? QStringLiteral("slimreel-cli: no command given\n")
                                      : QStringLiteral("slimreel-cli: unknown command '%1'\n").arg(name))
                          + overview());
        return 2;
    }

    // Native inspection and export go through GStreamer; its own options are
    // not taken from the command line.
    gst_init(nullptr, nullptr);
    // What a killed earlier Slimreel left in the private folder goes first.
    slimreel::Files::sweepScratchFolder();
    // The command runs as a coroutine on the event loop that waitFor spins.
    return QCoro::waitFor(command->run(arguments.mid(2)));
}
