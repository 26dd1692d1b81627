#include "platform/ToolLocator.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace slimreel;

namespace {

QString plainFile(const QTemporaryDir &dir, const QString &name)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n");
    return file.fileName();
}

} // namespace

TEST(ToolLocator, FirstExecutableCandidateWins)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    const QString notExecutable = plainFile(dir, QStringLiteral("plain"));
    const QString directory = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(directory));
    QFile(directory).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString first = test::writeScript(dir, QStringLiteral("first"), {});
    const QString second = test::writeScript(dir, QStringLiteral("second"), {});

    const struct {
        const char *name;
        QStringList candidates;
        std::optional<QString> found;
    } cases[] = {
        {"no candidates", {}, std::nullopt},
        {"only missing", {missing}, std::nullopt},
        {"only not executable", {notExecutable}, std::nullopt},
        {"a directory is no tool", {directory}, std::nullopt},
        {"skips to the executable", {missing, notExecutable, directory, second, first}, second},
        {"keeps the given order", {first, second}, first},
        {"empty path is skipped", {QString(), first}, first},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ToolLocator(c.candidates).locate(), c.found) << c.name;
    }
}

TEST(ToolLocator, LooksAgainOnEveryCall)
{
    QTemporaryDir dir;
    const QString later = dir.filePath(QStringLiteral("later"));
    const ToolLocator locator({later});
    EXPECT_EQ(locator.locate(), std::nullopt);
    test::writeScript(dir, QStringLiteral("later"), {});
    EXPECT_EQ(locator.locate(), later);
    QFile::remove(later);
    EXPECT_EQ(locator.locate(), std::nullopt);
}

TEST(ToolLocator, DefaultCandidatesBesideTheProgramThenSystem)
{
    const QDir appDir(QCoreApplication::applicationDirPath());
    const QStringList expected{QDir::cleanPath(appDir.filePath(QStringLiteral("helpers/ffprobe"))),
                               QDir::cleanPath(appDir.filePath(QStringLiteral("../libexec/slimreel/ffprobe"))),
                               QStringLiteral("/usr/bin/ffprobe"), QStringLiteral("/usr/local/bin/ffprobe")};
    EXPECT_EQ(ToolLocator::defaultCandidates(QStringLiteral("ffprobe")), expected);
    EXPECT_EQ(ToolLocator::forTool(QStringLiteral("ffprobe")).candidates(), expected);
    EXPECT_EQ(ToolLocator::forTool(QStringLiteral("ffmpeg")).candidates().last(),
              QStringLiteral("/usr/local/bin/ffmpeg"));
}
