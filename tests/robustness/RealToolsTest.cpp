#include "robustness/RealToolsTest.h"

#include "compress/CompressionCoordinator.h"
#include "compress/FFmpegCompressor.h"
#include "compress/NativeCompressor.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace slimreel::test {

RealToolsTest::RealToolsTest()
{
    QLocale::setDefault(QLocale::c());
    QDir(m_dir.path()).mkpath(QStringLiteral("sources"));
    QDir(m_dir.path()).mkpath(QStringLiteral("fakes"));
}

void RealToolsTest::makeController(QStringList ffmpeg, QStringList ffprobe)
{
    const ToolLocator ffmpegLocator(ffmpeg.isEmpty() ? ToolLocator::defaultCandidates(QStringLiteral("ffmpeg")) : ffmpeg);
    const ToolLocator ffprobeLocator(ffprobe.isEmpty() ? ToolLocator::defaultCandidates(QStringLiteral("ffprobe"))
                                                       : ffprobe);
    auto coordinator = std::make_shared<CompressionCoordinator>(
        std::make_shared<FFmpegCompressor>(ffmpegLocator, catalog), std::make_shared<NativeCompressor>(),
        ffmpegLocator);
    vm = std::make_unique<AppViewModel>(std::make_shared<VideoProbeService>(ffprobeLocator), coordinator, access);
    // As the window does: every settings change is reported back.
    QObject::connect(vm.get(), &AppViewModel::settingsChanged, vm.get(), &AppViewModel::settingsDidChange);
    // The H.264 plan: the quickest encode, so that the real runs stay short.
    vm->setPlanText(QStringLiteral("fastest"));
}

void RealToolsTest::TearDown()
{
    for (const QString &entry : std::as_const(locked)) {
        QFile::setPermissions(entry, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    if (vm) {
        EXPECT_TRUE(settle(std::chrono::seconds(60))) << "the controller did not come to rest";
        expectConsistent();
        vm.reset();
    }
    EXPECT_TRUE(access->balanced()) << "file access started " << access->started.size() << ", stopped "
                                    << access->stopped.size();

    const QList<ChildInfo> children = childrenAfterSettling();
    EXPECT_TRUE(children.isEmpty()) << "child processes left:\n" << describe(children).toStdString();
    EXPECT_EQ(scratchLeftovers(m_temp.path()), QStringList()) << "left in the temporary folder";
    EXPECT_EQ(guard.changed(), QStringList()) << "sources changed";
    for (const QString &folder : std::as_const(outputFolders)) {
        EXPECT_EQ(incompleteOutputs(folder), QStringList()) << "in " << folder.toStdString();
    }
}

QUrl RealToolsTest::source(const QString &name, const QString &media, const QString &folder)
{
    const QString target = QDir(folder.isEmpty() ? sourcesFolder() : folder).filePath(name);
    EXPECT_TRUE(copyFile(test::media(media), target)) << target.toStdString();
    guard.add(target);
    return QUrl::fromLocalFile(target);
}

QUrl RealToolsTest::sourceWithBytes(const QString &name, const QByteArray &bytes)
{
    const QString target = QDir(sourcesFolder()).filePath(name);
    EXPECT_TRUE(writeFile(target, bytes));
    guard.add(target);
    return QUrl::fromLocalFile(target);
}

QUrl RealToolsTest::outputFolder(const QString &name)
{
    const QString folder = path(name);
    QDir().mkpath(folder);
    if (!outputFolders.contains(folder)) {
        outputFolders << folder;
    }
    return QUrl::fromLocalFile(folder);
}

QStringList RealToolsTest::fakeTool(const QString &tool, const QString &body)
{
    const QString fakes = path(QStringLiteral("fakes"));
    const QString script = QDir(fakes).filePath(tool);
    QFile file(script);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n");
    file.write(body.toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return {script};
}

void RealToolsTest::importNow(const QList<QUrl> &urls, bool selectFirst)
{
    vm->importVideos(urls, selectFirst);
    ASSERT_TRUE(settle());
}

bool RealToolsTest::settle(std::chrono::seconds timeout)
{
    return spinUntil([this] { return !vm->hasRunningTasks(); }, timeout);
}

void RealToolsTest::runAll(const QUrl &folder)
{
    vm->compressAll(folder);
    ASSERT_TRUE(settle());
}

qsizetype RealToolsTest::rowOf(const QUrl &url) const
{
    const auto &items = vm->batchItems();
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items.at(i).info.url == url) {
            return i;
        }
    }
    return -1;
}

const BatchVideoItem &RealToolsTest::item(const QUrl &url) const
{
    const qsizetype row = rowOf(url);
    EXPECT_GE(row, 0) << url.toLocalFile().toStdString() << " is not queued";
    return vm->batchItems().at(std::max<qsizetype>(row, 0));
}

QStringList RealToolsTest::queuedNames() const
{
    QStringList names;
    for (const BatchVideoItem &i : vm->batchItems()) {
        names << QFileInfo(i.info.url.toLocalFile()).fileName();
    }
    return names;
}

QStringList RealToolsTest::entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

void RealToolsTest::expectSampleMade()
{
    vm->generatePreview();
    ASSERT_TRUE(settle());
    EXPECT_TRUE(vm->previewURL().has_value()) << vm->alertMessage().value_or(QString()).toStdString();
    EXPECT_TRUE(vm->previewSizeEstimate().has_value());
}

void RealToolsTest::expectSampleFails(const QUrl &url, const QString &reason)
{
    vm->selectItem(item(url).id);
    vm->generatePreview();
    ASSERT_TRUE(settle());
    const QString prefix = QStringLiteral("预览生成失败：");
    const QString alert = vm->alertMessage().value_or(QString());
    EXPECT_TRUE(alert.startsWith(prefix) && alert.size() > prefix.size() && alert.contains(reason))
        << alert.toStdString();
    EXPECT_FALSE(vm->previewURL().has_value());
    vm->dismissAlert();
}

void RealToolsTest::expectCompressed(const QList<QUrl> &good, const QString &folder)
{
    QStringList outputs;
    for (const QUrl &url : good) {
        const BatchVideoItem &done = item(url);
        EXPECT_EQ(done.state, BatchItemState::completed()) << done.state.message.toStdString();
        if (done.outputURL) {
            outputs << QFileInfo(done.outputURL->toLocalFile()).fileName();
            EXPECT_EQ(QFileInfo(done.outputURL->toLocalFile()).path(), folder);
        }
    }
    outputs.sort();
    QStringList written = entries(folder);
    written.sort();
    EXPECT_EQ(written, outputs);
}

void RealToolsTest::expectRunFailsOnly(const QUrl &failing, const QString &reason)
{
    const QUrl out = outputFolder();
    runAll(out);
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_EQ(vm->alertMessage().value_or(QString()), batchSummary(1));
    EXPECT_EQ(item(failing).state.kind, BatchItemState::Case::failed);
    EXPECT_TRUE(item(failing).state.message.contains(reason)) << item(failing).state.message.toStdString();
    QList<QUrl> others;
    for (const BatchVideoItem &queued : vm->batchItems()) {
        if (queued.info.url != failing) {
            others << queued.info.url;
        }
    }
    expectCompressed(others, out.toLocalFile());
}

void RealToolsTest::expectConsistent() const
{
    const auto &items = vm->batchItems();
    if (const auto selected = vm->selectedItemID()) {
        const auto found = std::ranges::find(items, *selected, &BatchVideoItem::id);
        ASSERT_NE(found, items.end()) << "selection is not in the queue";
        ASSERT_TRUE(vm->video().has_value());
        EXPECT_EQ(*vm->video(), found->info);
    } else {
        EXPECT_FALSE(vm->video().has_value());
    }
    if (vm->previewURL()) {
        EXPECT_TRUE(QFileInfo(vm->previewURL()->toLocalFile()).isFile()) << "the preview sample is gone";
    } else {
        EXPECT_FALSE(vm->previewSizeEstimate().has_value());
    }
    if (!vm->hasRunningTasks()) {
        EXPECT_FALSE(vm->isBusy()) << vm->stateText().toStdString();
        EXPECT_FALSE(vm->isGeneratingPreview());
    }
    for (const BatchVideoItem &i : items) {
        if (i.state.kind == BatchItemState::Case::completed) {
            ASSERT_TRUE(i.outputURL.has_value());
            EXPECT_TRUE(QFileInfo(i.outputURL->toLocalFile()).isFile());
        }
        if (i.state.kind == BatchItemState::Case::failed) {
            EXPECT_FALSE(i.state.message.trimmed().isEmpty()) << "a failure without a reason";
        }
    }
}

} // namespace slimreel::test
