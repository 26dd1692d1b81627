#include "WindowTest.h"

#include "support/TestSupport.h"

#include <QMediaPlayer>
#include <QTest>

#include <gmock/gmock.h>

#include <cmath>

namespace slimreel::uitest {
namespace {

using ::testing::Contains;

class PreviewTest : public WindowTest {
protected:
    // Makes the sample of the selected video and waits until it shows.
    void makeSample()
    {
        const qsizetype before = compressor->calls.size();
        click(item(QStringLiteral("generatePreviewButton")));
        ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() > before; }));
        compressor->succeed(before);
        ASSERT_TRUE(settle());
        ASSERT_FALSE(controller->previewURLValue().isEmpty());
    }

    static QMediaPlayer *playerOf(QQuickItem *view)
    {
        return view != nullptr ? qobject_cast<QMediaPlayer *>(view->property("player").value<QObject *>()) : nullptr;
    }

    static bool loaded(QMediaPlayer *player)
    {
        return player->mediaStatus() == QMediaPlayer::LoadedMedia || player->mediaStatus() == QMediaPlayer::BufferedMedia;
    }
};

TEST_F(PreviewTest, GeneratingShowsASpinnerThenTheSampleBesideTheOriginal)
{
    importNow({realVideo(QStringLiteral("long.mp4"))});
    EXPECT_FALSE(shown(item(QStringLiteral("expandButton"))));
    EXPECT_TRUE(shown(item(QStringLiteral("samplePlaceholder"))));

    click(item(QStringLiteral("generatePreviewButton")));
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 1; }));
    EXPECT_TRUE(shown(item(QStringLiteral("previewSpinner"))));
    EXPECT_FALSE(enabled(item(QStringLiteral("generatePreviewButton"))));

    compressor->succeed(0);
    ASSERT_TRUE(settle());
    EXPECT_FALSE(shown(item(QStringLiteral("previewSpinner"))));
    EXPECT_TRUE(enabled(item(QStringLiteral("generatePreviewButton"))));
    EXPECT_TRUE(shown(item(QStringLiteral("expandButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("samplePlaceholder"))));

    // The sample starts 7 s into the 20 s original: the original is moved there, the sample stays at 0.
    ASSERT_DOUBLE_EQ(controller->previewStartTime(), 7);
    QMediaPlayer *original = playerOf(item(QStringLiteral("originalPlayer")));
    QMediaPlayer *sample = playerOf(item(QStringLiteral("samplePlayer")));
    ASSERT_NE(original, nullptr);
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(original->source(), controller->video()->url);
    EXPECT_EQ(sample->source(), controller->previewURLValue());
    ASSERT_TRUE(test::spinUntil([&] { return loaded(original) && loaded(sample) && original->position() >= 6900; }))
        << original->mediaStatus() << " " << sample->mediaStatus() << " at " << original->position();
    EXPECT_NEAR(original->position(), 7000, 100);
    EXPECT_EQ(sample->position(), 0);
    EXPECT_NE(original->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_NE(sample->playbackState(), QMediaPlayer::PlayingState);
}

TEST_F(PreviewTest, ComparisonWindowOpensSwitchesLayoutsAndPlaysBothAligned)
{
    importNow({realVideo(QStringLiteral("long.mp4"))});
    makeSample();
    click(item(QStringLiteral("expandButton")));
    QQuickWindow *comparison = comparisonWindow();
    ASSERT_NE(comparison, nullptr);
    ASSERT_TRUE(test::spinUntil([&] { return comparison->isExposed(); }));
    EXPECT_EQ(comparison->property("layout").toString(), QStringLiteral("sideBySide"));
    EXPECT_TRUE(shown(item(QStringLiteral("syncPlayButton"))));
    EXPECT_TRUE(shown(item(QStringLiteral("pauseButton"))));

    QMediaPlayer *original = playerOf(item(QStringLiteral("originalLargePlayer")));
    QMediaPlayer *sample = playerOf(item(QStringLiteral("compressedLargePlayer")));
    ASSERT_NE(original, nullptr);
    ASSERT_NE(sample, nullptr);
    ASSERT_TRUE(test::spinUntil([&] { return loaded(original) && loaded(sample) && original->position() >= 6900; }));
    EXPECT_EQ(sample->position(), 0);

    // 同步播放: both start, the original from the sample's start time, the sample from 0.
    click(item(QStringLiteral("syncPlayButton")), comparison);
    ASSERT_TRUE(test::spinUntil([&] {
        return original->playbackState() == QMediaPlayer::PlayingState && sample->playbackState() == QMediaPlayer::PlayingState;
    }));
    EXPECT_GE(original->position(), 6900);
    EXPECT_LT(sample->position(), original->position() - 6000);
    click(item(QStringLiteral("pauseButton")), comparison);
    EXPECT_NE(original->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_NE(sample->playbackState(), QMediaPlayer::PlayingState);

    // One layout at a time hides the other player and the two buttons, and pauses both.
    click(item(QStringLiteral("syncPlayButton")), comparison);
    ASSERT_TRUE(test::spinUntil([&] { return original->playbackState() == QMediaPlayer::PlayingState; }));
    click(item(QStringLiteral("segment_original")), comparison);
    EXPECT_EQ(comparison->property("layout").toString(), QStringLiteral("original"));
    EXPECT_FALSE(shown(item(QStringLiteral("syncPlayButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("pauseButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("compressedLargePlayer"))));
    EXPECT_NE(original->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_NE(sample->playbackState(), QMediaPlayer::PlayingState);

    click(item(QStringLiteral("segment_sideBySide")), comparison);
    EXPECT_TRUE(shown(item(QStringLiteral("syncPlayButton"))));
    EXPECT_NE(original->playbackState(), QMediaPlayer::PlayingState);

    // Full screen and back from the keyboard.
    QTest::keyClick(comparison, Qt::Key_F11);
    EXPECT_TRUE(test::spinUntil([&] { return comparison->visibility() == QWindow::FullScreen; }));
    QTest::keyClick(comparison, Qt::Key_Escape);
    EXPECT_TRUE(test::spinUntil([&] { return comparison->visibility() == QWindow::Windowed; }));

    // Closing the window pauses whatever plays in it.
    click(item(QStringLiteral("syncPlayButton")), comparison);
    ASSERT_TRUE(test::spinUntil([&] { return sample->playbackState() == QMediaPlayer::PlayingState; }));
    comparison->close();
    drainEvents();
    EXPECT_NE(original->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_NE(sample->playbackState(), QMediaPlayer::PlayingState);
}

TEST_F(PreviewTest, ComparisonClosesOnNewSettingsAnotherVideoOrTheMainWindow)
{
    importNow({realVideo(QStringLiteral("long.mp4")), realVideo(QStringLiteral("h264_aac.mp4"))});
    makeSample();
    click(item(QStringLiteral("expandButton")));
    ASSERT_NE(comparisonWindow(), nullptr);

    // Picking the plan already chosen is no change: the window stays.
    click(item(QStringLiteral("plan_recommended")));
    EXPECT_NE(comparisonWindow(), nullptr);
    EXPECT_FALSE(controller->previewURLValue().isEmpty());

    bool closedFirst = false;
    const auto connection = QObject::connect(controller.get(), &AppViewModel::previewURLChanged, controller.get(),
                                             [&] { closedFirst = comparisonWindow() == nullptr; });
    click(item(QStringLiteral("plan_fastest")));
    QObject::disconnect(connection);
    EXPECT_EQ(comparisonWindow(), nullptr);
    // settingsDidChange() ran after the window had closed: it threw the sample away.
    EXPECT_TRUE(closedFirst);
    EXPECT_TRUE(controller->previewURLValue().isEmpty());
    EXPECT_FALSE(shown(item(QStringLiteral("expandButton"))));

    makeSample();
    click(item(QStringLiteral("expandButton")));
    ASSERT_NE(comparisonWindow(), nullptr);

    const auto rows = items(QStringLiteral("queueRow"));
    click(rows.at(0)); // already selected: nothing changes
    EXPECT_NE(comparisonWindow(), nullptr);
    click(rows.at(1));
    EXPECT_EQ(comparisonWindow(), nullptr);

    // Closing the main window takes an open comparison with it.
    makeSample();
    click(item(QStringLiteral("expandButton")));
    ASSERT_NE(comparisonWindow(), nullptr);
    window->close();
    drainEvents();
    EXPECT_EQ(comparisonWindow(), nullptr);
}

} // namespace
} // namespace slimreel::uitest
