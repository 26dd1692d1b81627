#pragma once

#include "app/AppViewModel.h"
#include "compress/CompressionCoordinator.h"
#include "compress/EncoderCatalog.h"
#include "compress/FFmpegCompressor.h"
#include "compress/NativeCompressor.h"
#include "platform/Files.h"
#include "support/Fakes.h" // the error types too

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>

namespace slimreel::test {

inline QStringList entries(const QString &folder) // sorted, hidden ones too
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// As root the tests give up overriding permission bits (in the bounding set too, so the tools they start do not get it
// back), so that read-only folders and unreadable files behave as for a user. Capabilities belong to threads: this runs
// as the program loads, before any thread.
inline const bool permissionsEnforced = [] {
    if (::geteuid() != 0) {
        return true;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0
        || ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0 || ::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    const auto kept = ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH)); // both in the first word
    data[0].effective &= kept;
    data[0].permitted &= kept;
    data[0].inheritable &= kept;
    return ::syscall(SYS_capset, &header, data) == 0;
}();

// Other processes that `wanted(state letter, parent, command line)` picks, as "pid [state] command".
inline QStringList processes(const std::function<bool(char, qint64, const QString &)> &wanted)
{
    QStringList found;
    for (const QString &pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
        const QByteArray stat = readFile("/proc/" + pid + "/stat");
        // The command name in parentheses may hold spaces or ')'.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        const QString command = QString::fromLocal8Bit(readFile("/proc/" + pid + "/cmdline")).replace(QChar(0), u' ');
        if (fields.size() > 1 && !fields.at(0).isEmpty() && pid.toLongLong() != ::getpid()
            && wanted(fields.at(0).at(0), fields.at(1).toLongLong(), command)) {
            found << QStringLiteral("%1 [%2] %3").arg(pid, QString::fromLatin1(fields.at(0)), command);
        }
    }
    return found;
}
inline bool processAlive(qint64 pid) // a zombie has ended
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0
           && !readFile(QStringLiteral("/proc/%1/stat").arg(pid)).split(')').last().trimmed().startsWith('Z');
}

// A controller over the real probe service and coordinator, or fakes of the two tools where the test puts them, in a
// temporary folder of its own. Afterwards no source may have changed, no sample or pass folder may be left, no tool may
// run, and every output folder holds whole videos.
class RealToolsTest : public ::testing::Test {
public:
    using Failing = QList<std::pair<QUrl, QString>>; // a video and a text its reason contains

    RealToolsTest()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("sources"));
        QDir(m_dir.path()).mkpath(QStringLiteral("fakes"));
    }

    void TearDown() override
    {
        for (const QString &entry : std::as_const(locked)) {
            QFile::setPermissions(entry, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        if (vm) {
            EXPECT_TRUE(settle(std::chrono::seconds(60))) << "the controller did not come to rest";
            vm.reset();
        }
        expectNoToolLeft();
        EXPECT_EQ(scratchLeftovers(), QStringList()) << "left in the temporary folder";
        for (auto it = guarded.cbegin(); it != guarded.cend(); ++it) {
            EXPECT_EQ(readFile(it.key()), it.value()) << "source changed: " << it.key().toStdString();
        }
        // Every output is a whole video: a stream with a duration, every frame decoded without an error.
        for (const QString &folder : std::as_const(outputFolders)) {
            for (const QString &name : entries(folder)) {
                const QString file = QDir(folder).filePath(name);
                const ToolRun decode = runTool("ffmpeg", {"-v", "error", "-nostdin", "-i", file, "-f", "null", "-"});
                const QStringList facts = runTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                              "stream=codec_name:format=duration", "-of", "csv=p=0", file})
                                              .out.split('\n', Qt::SkipEmptyParts);
                EXPECT_TRUE(facts.size() == 2 && facts.last().toDouble() > 0) << file.toStdString() << ": no video stream";
                EXPECT_TRUE(!decode.crashed && decode.exitCode == 0 && decode.err.trimmed().isEmpty())
                    << file.toStdString() << " does not decode: " << decode.err.toStdString();
            }
        }
    }

    // No child, no process on the test's files, no fake that recorded its pid; a hung one is killed in seconds.
    void expectNoToolLeft() const
    {
        const auto left = [&] {
            QStringList tools = processes([&](char state, qint64 parent, const QString &command) {
                return parent == ::getpid() || (state != 'Z' && command.contains(m_dir.path()));
            });
            for (const QString &file : QDir(path("fakes")).entryList({"*.pid"})) {
                if (processAlive(pidOf(file.chopped(4)))) {
                    tools << file;
                }
            }
            return tools;
        };
        EXPECT_TRUE(spinUntil([&] { return left().isEmpty(); }, std::chrono::seconds(15))) << left().join('\n').toStdString();
    }

    // Where the controller looks for the tools; the system's when not given.
    void makeController(const QStringList &ffmpeg = {}, const QStringList &ffprobe = {})
    {
        const ToolLocator ffmpegAt(ffmpeg.isEmpty() ? ToolLocator::defaultCandidates("ffmpeg") : ffmpeg);
        const ToolLocator ffprobeAt(ffprobe.isEmpty() ? ToolLocator::defaultCandidates("ffprobe") : ffprobe);
        vm = std::make_unique<AppViewModel>(
            std::make_shared<VideoProbeService>(ffprobeAt),
            std::make_shared<CompressionCoordinator>(std::make_shared<FFmpegCompressor>(ffmpegAt, catalog, ffprobeAt),
                                                     std::make_shared<NativeCompressor>(), ffmpegAt),
            std::make_shared<RecordingFileAccess>());
        QObject::connect(vm.get(), &AppViewModel::settingsChanged, vm.get(), &AppViewModel::settingsDidChange);
        vm->setPlanText("fastest"); // keeps the real runs short
    }
    // A stand-in for ffmpeg or ffprobe among the fakes, as a candidate list: `cases` are shell case arms on "$in" (the
    // argument after -i, else the last one), "$out" is the last argument, "$real" the system's tool, which every other
    // call runs.
    QStringList fakeTool(const QString &tool, const QString &cases) const
    {
        const QString real = QFileInfo::exists("/usr/bin/" + tool) ? "/usr/bin/" + tool : "/usr/local/bin/" + tool;
        return {writeScript(m_dir, "fakes/" + tool, QStringLiteral(R"(real='%2'
in=; prev=; out=
for a in "$@"; do [ "$prev" = "-i" ] && in=$a; prev=$a; out=$a; done
: "${in:=$out}"
case "$in" in
%1
esac
exec "$real" "$@"
)").arg(cases, real))};
    }
    QString pidFile(const QString &name) const { return path("fakes/" + name + ".pid"); }
    qint64 pidOf(const QString &name) const { return readFile(pidFile(name)).trimmed().toLongLong(); }
    // A shell line that records the fake's pid and hangs ignoring SIGTERM, once (then the real tool runs).
    QString hangOnce(const QString &name) const
    {
        return QStringLiteral("if [ ! -e '%1' ]; then echo $$ > '%1'; trap '' TERM; exec sleep 300; fi;").arg(pidFile(name));
    }

    // A guarded copy of a test video (or a file of these bytes) in the sources folder.
    QUrl source(const QString &name, const QString &video = "h264_aac.mp4", const std::optional<QByteArray> &bytes = {})
    {
        const QString target = path("sources/" + name);
        QDir().mkpath(QFileInfo(target).path());
        EXPECT_TRUE(bytes ? writeFile(target, *bytes) : QFile::copy(media(video), target)) << target.toStdString();
        guarded.insert(target, readFile(target));
        return QUrl::fromLocalFile(target);
    }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    // Samples, estimate stretches, two-pass folders and moving files in this user's scratch folder (the one in the
    // private temporary folder while tests run); instance locks may stay.
    QStringList scratchLeftovers() const
    {
        const QString folder = Files::scratchFolder();
        EXPECT_TRUE(folder.startsWith(m_temp.path())) << folder.toStdString();
        return QDir(folder).entryList({"Slimreel-preview-*", "Slimreel-estimate-*", "Slimreel-pass-*", "Slimreel-faststart-*"},
                                      QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    // A folder the run writes into; the checks inspect it afterwards.
    QUrl outputFolder(const QString &name = "out")
    {
        QDir().mkpath(path(name));
        outputFolders << path(name);
        return QUrl::fromLocalFile(path(name));
    }

    void importNow(const QList<QUrl> &urls)
    {
        vm->importVideos(urls);
        ASSERT_TRUE(settle());
    }
    bool settle(std::chrono::seconds timeout = std::chrono::seconds(180))
    {
        return spinUntil([this] { return !vm->hasRunningTasks(); }, timeout);
    }
    const BatchVideoItem &item(const QUrl &url) const
    {
        static const BatchVideoItem none;
        const auto found = std::ranges::find(vm->batchItems(), url, [](const BatchVideoItem &i) { return i.info.url; });
        EXPECT_NE(found, vm->batchItems().end()) << url.toLocalFile().toStdString() << " is not queued";
        return found == vm->batchItems().end() ? none : *found;
    }
    QStringList queuedNames() const { return fileNames(vm->batchItems()); }

    // Makes the sample of `url` (of the selected video when empty): it is shown with an estimate, or, with a `failure`,
    // the alert gives a reason that contains it and no sample is shown.
    void expectSample(const QUrl &url = {}, const std::optional<QString> &failure = {})
    {
        if (!url.isEmpty()) {
            vm->selectItem(item(url).id);
        }
        vm->generatePreview();
        ASSERT_TRUE(settle());
        const QString alert = vm->alertMessage().value_or(QString());
        EXPECT_EQ(vm->previewURL().has_value(), !failure) << alert.toStdString();
        EXPECT_EQ(vm->previewSizeEstimate().has_value(), !failure);
        if (failure) {
            EXPECT_TRUE(alert.startsWith(previewFailedPrefix) && alert.size() > previewFailedPrefix.size()
                        && alert.contains(*failure))
                << alert.toStdString();
            vm->dismissAlert();
        }
    }
    // Runs the queue into the folder (or waits for the run `started` there): `failing` fail, every other video is
    // compressed into the folder, which holds nothing else.
    void expectRun(const Failing &failing, const QString &folder = "out", bool started = false)
    {
        const QUrl out = outputFolder(folder);
        if (!started) {
            vm->compressAll(out);
        }
        ASSERT_TRUE(settle());
        EXPECT_EQ(vm->stateText(), "completed");
        EXPECT_EQ(vm->alertMessage().value_or(QString()), failing.isEmpty() ? QString() : batchSummary(failing.size()));
        QStringList outputs;
        for (const BatchVideoItem &queued : vm->batchItems()) {
            const auto fails = std::ranges::find(failing, queued.info.url, &std::pair<QUrl, QString>::first);
            const QString &why = queued.state.message;
            if (fails == failing.end()) {
                EXPECT_EQ(queued.state, BatchItemState::completed()) << why.toStdString();
                outputs << QDir(out.toLocalFile()).relativeFilePath(queued.outputURL.value_or(QUrl()).toLocalFile());
            } else {
                EXPECT_EQ(queued.state.kind, BatchItemState::Case::failed) << queued.info.url.fileName().toStdString();
                EXPECT_TRUE(!why.trimmed().isEmpty() && why.contains(fails->second)) << why.toStdString();
            }
        }
        outputs.sort();
        EXPECT_EQ(entries(out.toLocalFile()), outputs);
        vm->dismissAlert();
    }

    PrivateTempFolder m_temp;
    QTemporaryDir m_dir;
    QHash<QString, QByteArray> guarded; // sources as they were
    EncoderCatalog catalog{EncoderProfile::software()};
    std::unique_ptr<AppViewModel> vm;
    QStringList outputFolders;
    QStringList locked; // paths whose permissions the test lowered; restored before the checks
};

} // namespace slimreel::test
