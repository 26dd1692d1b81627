#include "app/AppViewModel.h"
#include "platform/Files.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace slimreel {
namespace {

int childCount()
{
    int count = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(QStringLiteral("/proc/self/task/%1/children").arg(task));
        if (children.open(QIODevice::ReadOnly)) {
            count += static_cast<int>(QString::fromLatin1(children.readAll()).split(u' ', Qt::SkipEmptyParts).size());
        }
    }
    return count;
}

// What the session manager or `kill` sends: the window stops its work as when
// it is closed, the encoder ends, and no sample or partial output stays.
TEST(QuitSignals, EndTheWindowOnlyOnceItsWorkHasStoppedAndCleanedUp)
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr) {
        GTEST_SKIP() << "no display";
    }
    for (const auto &c : {std::pair{SIGTERM, false}, std::pair{SIGINT, true}, std::pair{SIGHUP, false},
                          std::pair{SIGTERM, true}, std::pair{SIGINT, false}, std::pair{SIGHUP, true}}) {
        const auto [signal, run] = c; // run, else the preview sample
        SCOPED_TRACE(testing::Message() << "signal " << signal << (run ? " during a run" : " during a preview"));
        const test::PrivateTempFolder temp;
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.mp4"));
        ASSERT_TRUE(QFile::copy(test::media(QStringLiteral("long.mp4")), source));
        const QByteArray before = test::readFile(source);
        const QDir out(dir.filePath(QStringLiteral("out")));
        ASSERT_TRUE(out.mkpath(QStringLiteral(".")));

        AppViewModel controller; // the real tools
        QQmlEngine engine;
        const auto window = MainWindow::create(engine, controller, nullptr);
        ASSERT_NE(window, nullptr);
        MainWindow::closeOnQuitSignals(*window);
        window->show();
        controller.importVideos({QUrl::fromLocalFile(source)}, false);
        ASSERT_TRUE(test::spinUntil([&] { return !controller.hasRunningTasks() && controller.itemCount() == 1; }));

        // Wait until the encoder is writing.
        const auto written = [&] {
            const QFileInfoList files =
                run ? out.entryInfoList(QDir::Files | QDir::Hidden)
                      : QDir(Files::scratchFolder()).entryInfoList({QStringLiteral("Slimreel-preview-*")}, QDir::Files);
            return !files.isEmpty() && files.first().size() > 0;
        };
        run ? controller.compressAll(QUrl::fromLocalFile(out.path())) : controller.generatePreview();
        ASSERT_TRUE(test::spinUntil(written));
        ASSERT_GT(childCount(), 0);

        ::raise(signal);
        ASSERT_TRUE(test::spinUntil([&] { return !window->isVisible(); }));
        controller.finishBeforeExit(); // as main() does once the event loop has ended
        EXPECT_EQ(childCount(), 0);
        EXPECT_EQ(test::tempEntries(QStringLiteral("Slimreel-p")), QStringList());
        EXPECT_EQ(out.entryList(QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(test::readFile(source), before) << "the source is unchanged";
    }
}

} // namespace
} // namespace slimreel
