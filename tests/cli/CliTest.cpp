#include "robustness/RealToolsTest.h"
#include "support/FakeDesktop.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

using namespace slimreel;
using namespace slimreel::test;

namespace {

// The command-line program copied into a folder of its own, so that a fake ffmpeg sits in its helpers folder, where it
// looks first; it runs in the sources folder and inherits the private temporary folder. Each input named in the fake
// meets its fault, every other one the real tool.
class Cli : public RealToolsTest {
protected:
    Cli()
    {
        EXPECT_TRUE(QFile::copy(SLIMREEL_CLI_PATH, m_cli) && QFile::link(path("fakes"), path("helpers")));
        QFile::setPermissions(m_cli, QFile::permissions(SLIMREEL_CLI_PATH));
        fakeTool("ffmpeg", QStringLiteral(R"(*silent*) exit 0 ;;
*stuck*) echo $$ > '%1/stuck.pid'; trap '' TERM; head -c 30000 /dev/urandom > "$out"; exec sleep 30 ;;
*sampled*) echo $$ > '%1/sampled.pid'; head -c 30000 /dev/urandom > "$out"; exec sleep 30 ;;
*doomed*) echo $$ > '%1/doomed.pid'; exec sleep 30 ;;
*paced*) exec "$real" -re "$@" ;;
color=*) echo $$ > '%1/trial.pid'; exec sleep 30 ;;)").arg(path("fakes")));
        outputFolders << m_out;
    }
    // A guarded source; its name as the program, in the sources folder, is given it.
    QString named(const QString &name, const QString &video = "h264_aac.mp4", const std::optional<QByteArray> &bytes = {})
    {
        source(name, video, bytes);
        return name;
    }

    // Runs the program to its end; with `signal`, sends it once `reached(standard output so far)`.
    // `meanwhile` runs between the two, while the program still works.
    ToolRun run(const QStringList &arguments, int signal = 0, const std::function<bool(const QString &)> &reached = {},
                const std::function<void()> &meanwhile = {})
    {
        QProcess process;
        process.setWorkingDirectory(path("sources"));
        process.start(m_cli, arguments);
        QString out;
        if (signal != 0) {
            EXPECT_TRUE(spinUntil([&] { return reached(out += QString::fromUtf8(process.readAllStandardOutput())); }));
            if (meanwhile) {
                meanwhile();
            }
            EXPECT_EQ(process.state(), QProcess::Running) << "the program ended before the signal";
            ::kill(static_cast<pid_t>(process.processId()), signal);
        }
        // The event loop runs meanwhile: the stand-in desktop answers as a real one would.
        EXPECT_TRUE(spinUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::minutes(4)));
        return {process.exitCode(), process.exitStatus() != QProcess::NormalExit,
                out + QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QString m_cli = path("slimreel-cli");
    QString m_out = path("new/out"); // made by the command
};

// Usage errors (exit code 2, with the usage), help, a file that cannot be read, and the readable form of probe.
TEST_F(Cli, UsageErrorsHelpAndExitCodes)
{
    const QString video = media("h264_aac.mp4");
    ASSERT_TRUE(writeFile(path("file"), {}));
    const struct {
        QStringList arguments;
        int exitCode;
        QString err;
        QStringList out; // all of them in standard output; none: it is empty
    } cases[] = {
        {{}, 2, "no command given", {}},
        {{"inspect", video}, 2, "unknown command 'inspect'", {}},
        {{"probe"}, 2, "no files given", {}},
        {{"probe", "--bogus", video}, 2, "Unknown option 'bogus'", {}},
        {{"probe", "--backend", "quicktime", video}, 2, "unknown backend 'quicktime'", {}},
        {{"compress", video}, 2, "--output DIR is required", {}},
        {{"compress", "--output", m_out}, 2, "no files given", {}},
        {{"compress", "--mode", "Quality", "-o", m_out, video}, 2, "unknown mode 'Quality'", {}},
        {{"compress", "--plan", "best", "-o", m_out, video}, 2, "unknown plan 'best'", {}},
        {{"compress", "--target-mb", "0", "-o", m_out, video}, 2, "--target-mb needs a positive number", {}},
        {{"compress", "-o", path("file/out"), video}, 2, "cannot write into the output folder", {}},
        {{"estimate", video, media("clip.mkv")}, 2, "give exactly one file", {}},
        {{"estimate", media("not_video.mp4")}, 1, importFailure("not_video.mp4", VideoProbeError::unreadable), {}},
        {{"--help"}, 0, {}, {"  compress "}},
        {{"probe", "--help"}, 0, {}, {"Usage: slimreel-cli probe [options] FILE..."}},
        {{"probe", video, media("hevc_ac3.mp4"), media("not_video.mp4")}, 1,
         "not_video.mp4: " + makeError(VideoProbeError::unreadable).description(),
         {"640x360", "H.264", "HEVC", "kbit/s", "0:03"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ToolRun result = run(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_TRUE(result.err.contains(c.err)) << result.err.toStdString();
        EXPECT_TRUE(c.exitCode != 2 || result.err.contains("\nUsage: slimreel-cli ")) << result.err.toStdString();
        EXPECT_EQ(result.out.isEmpty(), c.out.isEmpty()) << result.out.toStdString();
        for (const QString &text : c.out) {
            EXPECT_TRUE(result.out.contains(text)) << text.toStdString() << " in " << result.out.toStdString();
        }
    }
    EXPECT_FALSE(QFileInfo::exists(m_out)) << "nothing is started on a usage error";
}

// One JSON line per file with every field of what was read, or the reason; relative and unusual paths.
TEST_F(Cli, ProbePrintsEachFileOrItsReason)
{
    const QString aac = media("h264_aac.mp4");
    const QString odd = path("sources/" + named("-my clip 夏天 #1.mp4"));
    const ToolRun result =
        run({"probe", "--json", "--backend", "ffprobe", "--", aac, media("not_video.mp4"), "-my clip 夏天 #1.mp4"});
    EXPECT_EQ(result.exitCode, 1) << result.err.toStdString();
    QList<QJsonObject> objects;
    for (const QString &line : result.out.split('\n', Qt::SkipEmptyParts)) {
        objects << QJsonDocument::fromJson(line.toUtf8()).object();
    }
    ASSERT_EQ(objects.size(), 3);
    QJsonObject read = objects[0];
    EXPECT_NEAR(read.take("duration").toDouble(), 4.0, 0.05);
    EXPECT_GT(read.take("videoBitrate").toDouble(), 0);
    EXPECT_GT(read.take("audioBitrate").toDouble(), 0);
    EXPECT_EQ(read, (QJsonObject{{"url", QUrl::fromLocalFile(aac).toString(QUrl::FullyEncoded)}, {"width", 640}, {"height", 360},
                                 {"frameRate", 25}, {"codec", "H.264"}, {"audioTrackCount", 1}, {"canCopyAudioToMP4", true},
                                 {"fileSize", QFileInfo(aac).size()}}));
    EXPECT_EQ(objects[1], (QJsonObject{{"url", QUrl::fromLocalFile(media("not_video.mp4")).toString(QUrl::FullyEncoded)},
                                       {"error", makeError(VideoProbeError::unreadable).description()}}));
    EXPECT_EQ(QUrl(objects[2]["url"].toString()).toLocalFile(), odd);
    EXPECT_FALSE(objects[2]["url"].toString().contains(' ')) << "a URL string, encoded";
}

// In quality mode both texts come from a sample made in the private scratch folder, which is then removed; JSON gives
// them with the bounds in bytes. In target-size mode no sample is made.
TEST_F(Cli, EstimatesInBothModes)
{
    ToolRun result = run({"estimate", "--json", "--verbose", "--plan", "fastest", media("h264_aac.mp4")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(Files::scratchFolder() + "/Slimreel-preview-")) << result.err.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(result.out.toUtf8()).object();
    EXPECT_EQ(json["mode"].toString(), "quality");
    EXPECT_EQ(json["plan"].toString(), "fastest");
    EXPECT_GT(json["lowerBound"].toInteger(-1), 0);
    EXPECT_LE(json["lowerBound"].toInteger(), json["upperBound"].toInteger());
    EXPECT_EQ(json["sourceBytes"].toInteger(), QFileInfo(media("h264_aac.mp4")).size());
    const QRegularExpression texts("^约 \\S+ [KMG]?B–\\S+ [KMG]?B\\n(根据样片预计节省 \\d+%–\\d+%|样片未能缩小)$");
    EXPECT_TRUE(texts.match(json["estimatedSizeText"].toString() + '\n' + json["savingsText"].toString()).hasMatch());

    // 1 MB: the video gets whatever fits 92 % of it beside the audio, whatever the duration.
    result = run({"estimate", "--verbose", "--mode", "targetSize", "--target-mb", "1", media("long.mp4")});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.startsWith("Estimated size: 920 KB\nSavings: 目标节省约 ")) << result.out.toStdString();
    EXPECT_FALSE(result.err.contains("Slimreel-preview-")) << "no sample is made";
}

// A batch in which each file that cannot be read gets its own line (more than the controller's alert names at once) and
// fails the command, though not as a failed video; same names from two folders get numbered outputs; odd names reach the
// tools unchanged.
TEST_F(Cli, CompressesABatch)
{
    const QStringList refused{named("song.m4a", "audio_only.m4a"), "gone.mp4", "notes.mp4", "lost.mp4"};
    const QStringList good{named("a/clip.mp4"), named("-dash.mp4"), named("b/clip.mp4"), named("line\nfeed.mp4")};
    QStringList arguments{"compress", "--plan", "fastest", "--output", m_out, "--"};
    QStringList errLines;
    for (qsizetype i = 0; i < good.size(); ++i) {
        arguments << good.at(i) << refused.at(i);
        errLines << importFailure(refused.at(i), i == 0 ? VideoProbeError::missingVideoTrack : VideoProbeError::unreadable);
    }
    const ToolRun result = run(arguments);
    EXPECT_EQ(result.exitCode, 1) << result.err.toStdString();
    EXPECT_EQ(result.err.split('\n', Qt::SkipEmptyParts), errLines);
    EXPECT_EQ(entries(m_out), (QStringList{"-dash-compressed.mp4", "clip-compressed-2.mp4", "clip-compressed.mp4",
                                           "line\nfeed-compressed.mp4"}));
    const QString out = QRegularExpression::escape(m_out);
    for (const QString &line : {"clip.mp4: " + out + "/clip-compressed.mp4 \\(.+ → .+, \\d+% smaller\\)",
                                "clip.mp4: " + out + "/clip-compressed-2.mp4 \\(.+\\)",
                                "line\nfeed.mp4: " + out + "/line\nfeed-compressed.mp4 \\(.+\\)",
                                // Not a terminal: plain progress lines (with the time left once a slow run knows it).
                                QStringLiteral("\\[1/4\\] clip.mp4 0%( · .+)?"), QStringLiteral("\\[3/4\\] clip.mp4 0%( · .+)?")}) {
        EXPECT_TRUE(QRegularExpression("(^|\\n)" + line + "\\n").match(result.out).hasMatch()) << line.toStdString();
    }
    EXPECT_FALSE(result.out.contains('\r'));
}

// Ctrl-C, SIGTERM and SIGKILL at the moments that matter, and failures: the program ends with the status it should, its
// tools end with it, no output, sample or pass folder stays, and the desktop may suspend again.
TEST_F(Cli, SignalsAndFailuresLeaveNothingBehind)
{
    const FakeDesktop desktop;
    ASSERT_TRUE(desktop.isUp());
    const struct {
        const char *name;
        QStringList arguments;
        int signal;
        const char *waitFor; // a fake's pid file, or a pattern of standard output
        int exitCode;        // -1: killed
        QString err;
        QString out;
    } cases[] = {
        {"Ctrl-C while the encoder hangs and ignores SIGTERM", {"compress", "-o", m_out, named("stuck.mp4")}, SIGINT,
         "stuck", 130, {}, "stuck.mp4: not compressed"},
        {"SIGTERM while the sample is made", {"estimate", named("sampled.mp4")}, SIGTERM, "sampled", 130, {}, {}},
        {"SIGKILL: the encoder does not go on alone", {"compress", "-o", m_out, named("doomed.mp4")}, SIGKILL, "doomed",
         -1, {}, {}},
        {"SIGKILL during a real run", {"compress", "--plan", "highQuality", "-o", m_out, named("whole.mp4", "long.mp4")},
         SIGKILL, "\\[1/1\\] whole.mp4 [1-9]", -1, {}, {}},
        {"SIGKILL during a real two-pass run",
         {"compress", "--mode", "targetSize", "-o", m_out, named("passes.mp4", "long.mp4")}, SIGKILL,
         "\\[1/1\\] passes.mp4 [1-9]", -1, {}, {}},
        {"Ctrl-C during a real two-pass run",
         {"compress", "--mode", "targetSize", "-o", m_out, named("long.mp4", "long.mp4")}, SIGINT,
         "\\[1/1\\] long.mp4 [1-9]", 130, {}, "long.mp4: not compressed"},
        // Read at its own pace, the 20 s video takes long enough for the run's speed to be known.
        {"Ctrl-C once the remaining time shows in a real run", {"compress", "-o", m_out, named("paced.mp4", "long.mp4")},
         SIGINT, "\\[1/1\\] paced.mp4 [1-9]0% · 剩余", 130, {}, "paced.mp4: not compressed"},
        {"a sample that was never written", {"estimate", named("silent.mp4")}, 0, nullptr, 1,
         previewFailedPrefix + noValidOutputText, {}},
        {"a source too starved to get smaller",
         {"compress", "--plan", "fastest", "-o", m_out, named("starved.mp4", "starved.mp4")}, 0, nullptr, 1,
         batchSummary(1), "starved.mp4: failed: " + CompressionError::outputNotSmaller().errorDescription()},
        // Encoder trials run only for hardware whose device node exists.
        {"an early end leaves no encoder trial running", {"compress", "-o", m_out, named("notes.mp4", {}, "text")}, 0,
         nullptr, 1, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString tag = QString::number(&c - cases);
        const auto reached = [&](const QString &out) {
            return c.waitFor[0] == '\\' ? out.contains(QRegularExpression(c.waitFor)) : pidOf(c.waitFor) > 0;
        };
        // A second program writing into the same folder meanwhile keeps its hands off the first one's files.
        const auto second = [&] {
            const QStringList before = entries(m_out);
            EXPECT_EQ(run({"compress", "--plan", "fastest", "-o", m_out, named("second" + tag + ".mp4")}).exitCode, 0);
            EXPECT_TRUE(std::ranges::includes(entries(m_out), before)) << before.join(' ').toStdString();
            QFile::remove(QDir(m_out).filePath("second" + tag + "-compressed.mp4"));
        };
        const bool killed = c.signal == SIGKILL;
        const auto inhibited = desktop.portal.requests.size();
        const ToolRun result = run(c.arguments, c.signal, reached, killed ? std::function<void()>(second) : nullptr);
        EXPECT_EQ(result.crashed ? -1 : result.exitCode, c.exitCode) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(c.err)) << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(c.out)) << result.out.toStdString();
        if (killed) {
            // At worst a hidden partial file, never a broken video under a final name; the next start removes it.
            EXPECT_EQ(QDir(m_out).entryList(QDir::Files), QStringList());
            expectNoToolLeft();
            EXPECT_EQ(run({"compress", "--plan", "fastest", "-o", m_out, named("next" + tag + ".mp4")}).exitCode, 0);
            EXPECT_EQ(entries(m_out), QStringList{"next" + tag + "-compressed.mp4"});
            QFile::remove(QDir(m_out).filePath("next" + tag + "-compressed.mp4"));
        }
        EXPECT_TRUE(c.signal == 0 || c.signal == SIGKILL || desktop.portal.requests.size() > inhibited)
            << "suspend allowed while it worked";
        // However the program ended, and whatever ran beside it, the desktop may suspend again.
        EXPECT_TRUE(spinUntil([&] { return desktop.portal.open() == 0; })) << "suspend still inhibited";
        EXPECT_EQ(entries(m_out), QStringList());
        EXPECT_EQ(scratchLeftovers(), QStringList());
        expectNoToolLeft();
    }
}

} // namespace
