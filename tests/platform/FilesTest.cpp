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
    // What is planted under our folder's name, and whether that folder is then used.
    const std::tuple<const char *, std::function<void()>, bool> cases[] = {
        {"nothing there", [] {}, true},
        {"a folder others can enter", folderWithMode(0755, ::geteuid()), false},
        {"a link to a private folder elsewhere", [&] { QFile::link(elsewhere, own); }, false},
        {"a file", [&] { test::writeFile(own, "x"); }, false},
        // Only root can give a folder away; anyone else's chown fails and the folder stays theirs.
        {"someone else's folder", folderWithMode(0700, 65534), ::geteuid() != 0},
    };
    for (const auto &[name, plant, usesOwn] : cases) {
        SCOPED_TRACE(name);
        QFile::remove(own);
        QDir(own).removeRecursively();
        plant();
        const QString folder = Files::scratchFolder();
        EXPECT_EQ(folder == own, usesOwn) << folder.toStdString();
        // Not through a link (lstat's mode of one is 0777), ours alone.
        EXPECT_EQ(std::pair(modeOf(folder), QFileInfo(folder).ownerId()), std::pair(0700u, ::geteuid()));
        EXPECT_TRUE(QDir(elsewhere).isEmpty());
    }
    // Under the session's runtime folder where there is one.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(elsewhere));
    const QString runtime = Files::scratchFolder();
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(runtime, QDir(elsewhere).filePath(QStringLiteral("slimreel")));
    EXPECT_EQ(modeOf(runtime), 0700u);
}

TEST(Files, OutputsTakeTheSourcesModeAndTheirFinalNameOnlyWhenWhole)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.mov"));
    ASSERT_TRUE(test::writeFile(source, "source"));
    // The source's mode, the umask, the output's mode.
    const std::tuple<unsigned, mode_t, unsigned> modes[] = {
        {0600, 022, 0600}, {0644, 022, 0644}, {0666, 022, 0644}, {0644, 077, 0600}, {0444, 022, 0444}};
    for (const auto &[sourceMode, umask, outputMode] : modes) {
        ::chmod(QFile::encodeName(source).constData(), sourceMode);
        const mode_t previous = ::umask(umask);
        EXPECT_EQ(Files::outputMode(source), std::optional<unsigned>(outputMode)) << std::oct << sourceMode;
        ::umask(previous);
    }
    EXPECT_FALSE(Files::outputMode(dir.filePath(QStringLiteral("missing"))));

    // Hidden, marked as ours, beside the final name (a rename, never a copy), and private from the start when the source is.
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
}

TEST(Files, LeftoversGoOnlyOnceNoOtherProcessCanOwnThem)
{
    const test::PrivateTempFolder temp;
    const QDir scratch(Files::scratchFolder());
    QTemporaryDir out;
    // Sweeps both places, and counts what is left in them.
    const auto sweptLeft = [&] {
        Files::sweepScratchFolder();
        Files::sweepPartialOutputs(out.path());
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
    test::writeFile(scratch.filePath(QStringLiteral("Slimreel-preview-1.mp4")), "x");
    scratch.mkpath(QStringLiteral("Slimreel-pass-1"));
    test::writeFile(Files::createPartial(out.filePath("a-compressed.mp4"), std::nullopt).value_or(QString()), "x");
    test::writeFile(out.filePath(QStringLiteral("kept.mp4")), "x");
    EXPECT_EQ(sweptLeft(), 3);

    // Once it has died, its lock goes and so does what it left; other files stay.
    holder.kill();
    holder.waitForFinished();
    EXPECT_EQ(sweptLeft(), 0);
    EXPECT_FALSE(QFile::exists(other));
    EXPECT_TRUE(QFile::exists(out.filePath(QStringLiteral("kept.mp4"))));
}
