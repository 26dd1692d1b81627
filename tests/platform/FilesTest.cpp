#include "platform/Files.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using namespace slimreel;

namespace {

unsigned modeOf(const QString &path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

} // namespace

TEST(Files, ScratchFolderIsPrivateAndAPlantedOneIsNeverUsed)
{
    const test::PrivateTempFolder temp;
    const QString own = QDir(temp.path()).filePath(QStringLiteral("slimreel-%1").arg(::geteuid()));
    const QString elsewhere = QDir(temp.path()).filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ::chmod(QFile::encodeName(elsewhere).constData(), 0700);
    const auto folderWithMode = [&](unsigned mode, uid_t owner) {
        return [&, mode, owner] {
            QDir().mkpath(own);
            ::chmod(QFile::encodeName(own).constData(), mode);
            [[maybe_unused]] const int changed = ::chown(QFile::encodeName(own).constData(), owner, owner);
        };
    };
    const struct {
        const char *name;
        std::function<void()> plant;
        bool usesOwn;
    } cases[] = {
        {"nothing there", [] {}, true},
        {"a folder others can enter", folderWithMode(0755, ::geteuid()), false},
        {"a link to a private folder elsewhere", [&] { QFile::link(elsewhere, own); }, false},
        {"a file", [&] { test::writeFile(own, "x"); }, false},
        // Only root can give a folder away; anyone else's chown fails and the folder stays theirs.
        {"someone else's folder", folderWithMode(0700, 65534), ::geteuid() != 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(own);
        QDir(own).removeRecursively();
        c.plant();
        const QString folder = Files::scratchFolder();
        ASSERT_FALSE(folder.isEmpty());
        EXPECT_EQ(folder == own, c.usesOwn) << folder.toStdString();
        EXPECT_EQ(modeOf(folder), 0700u);
        EXPECT_EQ(QFileInfo(folder).ownerId(), ::geteuid());
        EXPECT_FALSE(QFileInfo(folder).isSymLink());
        EXPECT_TRUE(QDir(elsewhere).isEmpty());
    }
    // Under the session's runtime folder where there is one.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(elsewhere));
    const QString runtime = Files::scratchFolder();
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(runtime, QDir(elsewhere).filePath(QStringLiteral("slimreel")));
    EXPECT_EQ(modeOf(runtime), 0700u);

    // A sample is readable by its owner only, whatever the umask.
    const QString sample = QDir(runtime).filePath(QStringLiteral("Slimreel-preview-x.mp4"));
    const mode_t previous = ::umask(0);
    ASSERT_TRUE(Files::createPrivateFile(sample));
    ::umask(previous);
    EXPECT_EQ(modeOf(sample), 0600u);
}

TEST(Files, OutputsTakeTheSourcesModeAndTheirFinalNameOnlyWhenWhole)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.mov"));
    ASSERT_TRUE(test::writeFile(source, "source"));
    const struct {
        unsigned source;
        mode_t umask;
        unsigned output;
    } modes[] = {{0600, 022, 0600}, {0644, 022, 0644}, {0666, 022, 0644}, {0644, 077, 0600}, {0444, 022, 0444}};
    for (const auto &m : modes) {
        ::chmod(QFile::encodeName(source).constData(), m.source);
        const mode_t previous = ::umask(m.umask);
        EXPECT_EQ(Files::outputMode(source), std::optional<unsigned>(m.output)) << std::oct << m.source;
        ::umask(previous);
    }
    EXPECT_FALSE(Files::outputMode(dir.filePath(QStringLiteral("missing"))));

    // Hidden, marked as ours, beside the final name (a rename, never a copy), and
    // private from the start when the source is.
    const QString final = dir.filePath(QStringLiteral("clip-compressed.mp4"));
    // A read-only source's output stays writable for its writer until it is whole.
    const Result<QString> partial = Files::createPartial(final, 0400);
    ASSERT_TRUE(partial);
    const QString name = QFileInfo(*partial).fileName();
    EXPECT_TRUE(name.startsWith(QLatin1String(".clip-compressed")) && name.contains(QLatin1String("slimreel-partial"))
                && name.endsWith(QLatin1String(".mp4")))
        << name.toStdString();
    EXPECT_EQ(QFileInfo(*partial).absolutePath(), dir.path());
    EXPECT_EQ(modeOf(*partial), 0600u);
    EXPECT_NE(Files::createPartial(final, 0600).value_or(QString()), *partial) << "two writers never share one";

    ASSERT_TRUE(test::writeFile(*partial, "video"));
    ASSERT_TRUE(Files::commitOutput(*partial, final, 0400));
    EXPECT_FALSE(QFile::exists(*partial));
    EXPECT_EQ(modeOf(final), 0400u);
    // Whatever appeared under the final name meanwhile is never replaced.
    const QString second = Files::createPartial(final, std::nullopt).value_or(QString());
    ASSERT_TRUE(test::writeFile(second, "second"));
    EXPECT_FALSE(Files::commitOutput(second, final));
    EXPECT_EQ(test::readFile(final), "video");
}

TEST(Files, LeftoversGoOnlyOnceNoOtherProcessCanOwnThem)
{
    const test::PrivateTempFolder temp;
    const QDir scratch(Files::scratchFolder());
    QTemporaryDir out;
    const auto plant = [&] {
        test::writeFile(scratch.filePath(QStringLiteral("Slimreel-preview-1.mp4")), "x");
        scratch.mkpath(QStringLiteral("Slimreel-pass-1"));
        test::writeFile(Files::createPartial(out.filePath(QStringLiteral("a-compressed.mp4")), std::nullopt).value_or(QString()), "x");
        test::writeFile(out.filePath(QStringLiteral("kept.mp4")), "x");
    };
    const auto left = [&] {
        return scratch.entryList({QStringLiteral("Slimreel-p*")}, QDir::AllEntries).size()
               + QDir(out.path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).size();
    };
    EXPECT_TRUE(Files::aloneInScratchFolder());
    // A second Slimreel is running (it holds its lock): what may be its own stays.
    const QString other = scratch.filePath(QStringLiteral("Slimreel-instance-other.lock"));
    QProcess holder;
    holder.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exec 9>\"$0.new\" && flock 9 && mv \"$0.new\" \"$0\" && exec sleep 60"), other});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(test::spinUntil([&] { return !Files::aloneInScratchFolder(); })) << holder.readAllStandardError().toStdString();
    plant();
    Files::sweepScratchFolder();
    Files::sweepPartialOutputs(out.path());
    EXPECT_EQ(left(), 3);

    // Once it has died, its lock goes and so does what it left; other files stay.
    holder.kill();
    holder.waitForFinished();
    Files::sweepScratchFolder();
    Files::sweepPartialOutputs(out.path());
    EXPECT_EQ(left(), 0);
    EXPECT_FALSE(QFile::exists(other));
    EXPECT_TRUE(QFile::exists(out.filePath(QStringLiteral("kept.mp4"))));
}
