#include "platform/ToolLocator.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace slimreel;

TEST(ToolLocator, FirstExecutableCandidateWins)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    const QString plain = dir.filePath(QStringLiteral("plain"));
    QFile(plain).open(QIODevice::WriteOnly);
    const QString folder = dir.path(); // executable, as folders are, but no tool
    const QString first = test::writeScript(dir, QStringLiteral("first"), {});
    const QString second = test::writeScript(dir, QStringLiteral("second"), {});
    EXPECT_EQ(ToolLocator({missing, plain, folder}).locate(), std::nullopt);
    EXPECT_EQ(ToolLocator({missing, QString(), plain, folder, second, first}).locate(), second);

    const QDir app(QCoreApplication::applicationDirPath());
    EXPECT_EQ(ToolLocator::forTool(QStringLiteral("ffprobe")).candidates(),
              (QStringList{QDir::cleanPath(app.filePath(QStringLiteral("helpers/ffprobe"))),
                           QDir::cleanPath(app.filePath(QStringLiteral("../libexec/slimreel/ffprobe"))),
                           QStringLiteral("/usr/bin/ffprobe"), QStringLiteral("/usr/local/bin/ffprobe")}));
}
