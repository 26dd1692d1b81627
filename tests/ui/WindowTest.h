#pragma once

#include "support/Fakes.h"
#include "app/AppViewModel.h"

#include <QList>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include <gtest/gtest.h>

#include <memory>

namespace slimreel::uitest {

// Set by main(): whether a display is there to open windows on.
extern bool haveDisplay;

// The real window over a controller whose probe and compressor are fakes the
// test steps. Items are found by objectName or by their text, as a user finds them.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A video the fake probe knows; no file is needed unless it is played.
    QUrl knownVideo(const QString &name, qint64 fileSize = 95'300'000, double duration = 62);
    // A generated test video with its real facts, for the players.
    QUrl realVideo(const QString &mediaName);
    void importNow(const QList<QUrl> &urls);
    // Runs the event loop until the controller has nothing running.
    bool settle();
    // Starts a run into a fresh folder and waits until the first video is being compressed.
    QUrl startRun();
    // Drags files over the item and drops them there; whether the drop was accepted.
    bool dropFiles(const QList<QUrl> &urls, QQuickItem *onto);

    QQuickItem *item(const QString &objectName) const;
    QList<QQuickItem *> items(const QString &objectName) const;
    // The visible item showing exactly this text, or nullptr.
    QQuickItem *withText(const QString &text) const;
    // Every text the windows show, in scene order (for readable failures).
    QStringList visibleTexts() const;
    QObject *object(const QString &objectName) const;
    static QString text(const QQuickItem *item);
    static bool shown(const QQuickItem *item);
    static bool enabled(const QQuickItem *item);
    // The help text (ToolTip.text) attached to an item.
    static QString toolTipText(const QQuickItem *item);
    // A left click in the middle of the item, through the window like a user's.
    void click(QQuickItem *item, QQuickWindow *in = nullptr);
    QQuickWindow *comparisonWindow() const;
    // Lets the scene settle (layouts, images, animations) before a picture is taken.
    static void drainEvents();

    QTemporaryDir dir;
    std::shared_ptr<test::FakeProbe> probe;
    std::shared_ptr<test::FakeCoordinator> compressor;
    std::unique_ptr<AppViewModel> controller;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;
};

} // namespace slimreel::uitest
