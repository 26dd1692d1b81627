import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

// The original and the sample large, side by side or one at a time. Both start
// paused, the original at the sample's start time and the sample at 0; "同步播放"
// lines them up exactly again before playing both.
Window {
    id: window

    property url originalUrl
    property url compressedUrl
    property real originalStartTime: 0
    property string layout: "sideBySide"
    readonly property var originalPlayer: originalView.player
    readonly property var compressedPlayer: compressedView.player
    property bool awaitingSampleSeek: false

    objectName: "comparisonWindow"
    transientParent: null
    width: 1180
    height: 720
    minimumWidth: 760
    minimumHeight: 520
    title: "Slimreel · 效果对比"
    color: Style.windowBackground

    Component.onCompleted: {
        x = screen.virtualX + Math.max(0, (screen.width - width) / 2)
        y = screen.virtualY + Math.max(0, (screen.height - height) / 2)
    }

    function pauseBoth() {
        awaitingSampleSeek = false
        originalPlayer.pause()
        compressedPlayer.pause()
    }

    function synchronizeAndPlay() {
        pauseBoth()
        originalPlayer.setPosition(Math.round(originalStartTime * 1000))
        awaitingSampleSeek = true
        compressedPlayer.setPosition(0)
        // Already there (no seek needed), or a sample that cannot seek: go on at once.
        if (compressedPlayer.position === 0 || !compressedPlayer.seekable)
            sampleSeekFinished()
        else
            seekFallback.restart()
    }

    // Whether the seek finished or was interrupted, both start, original first.
    function sampleSeekFinished() {
        if (!awaitingSampleSeek)
            return
        awaitingSampleSeek = false
        seekFallback.stop()
        Qt.callLater(() => {
            originalPlayer.play()
            compressedPlayer.play()
        })
    }

    Connections {
        target: window.compressedPlayer
        function onPositionChanged() {
            if (window.awaitingSampleSeek && window.compressedPlayer.position === 0)
                window.sampleSeekFinished()
        }
    }

    // A seek that never reports back counts as interrupted.
    Timer {
        id: seekFallback
        interval: 2000
        onTriggered: window.sampleSeekFinished()
    }

    onLayoutChanged: pauseBoth()
    onVisibleChanged: if (!visible) pauseBoth()
    onClosing: pauseBoth()
    Component.onDestruction: pauseBoth()

    Shortcut {
        sequences: [StandardKey.FullScreen, "F11"]
        onActivated: window.visibility = window.visibility === Window.FullScreen ? Window.Windowed : Window.FullScreen
    }

    // Out of full screen first, then closed.
    Shortcut {
        sequence: "Escape"
        onActivated: window.visibility === Window.FullScreen ? window.visibility = Window.Windowed : window.close()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 16

        RowLayout {
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 3

                Label {
                    text: "效果对比"
                    font.pixelSize: Style.title2
                    font.weight: Font.DemiBold
                }

                Label {
                    text: "可调整窗口大小，或按 F11 进入全屏"
                    font.pixelSize: Style.caption
                    color: Style.secondary
                }
            }

            Item { Layout.fillWidth: true }

            SegmentedPicker {
                objectName: "layoutPicker"
                name: "查看方式"
                options: [
                    { title: "并排对比", value: "sideBySide" },
                    { title: "原视频", value: "original" },
                    { title: "压缩效果", value: "compressed" }
                ]
                current: window.layout
                Layout.preferredWidth: 320
                onActivated: value => window.layout = value
            }

            ActionButton {
                objectName: "syncPlayButton"
                visible: window.layout === "sideBySide"
                text: "同步播放"
                icon.source: Style.iconUrl("play-fill")
                onClicked: window.synchronizeAndPlay()
            }

            ActionButton {
                objectName: "pauseButton"
                visible: window.layout === "sideBySide"
                text: "暂停"
                icon.source: Style.iconUrl("pause-fill")
                onClicked: window.pauseBoth()
            }
        }

        RowLayout {
            spacing: 12
            Layout.fillWidth: true
            Layout.fillHeight: true

            LargePlayer {
                id: originalView
                objectName: "originalLargePlayer"
                title: "原视频"
                source: window.originalUrl
                startTime: window.originalStartTime
                visible: window.layout !== "compressed"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
            }

            LargePlayer {
                id: compressedView
                objectName: "compressedLargePlayer"
                title: "压缩效果"
                source: window.compressedUrl
                visible: window.layout !== "original"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
            }
        }
    }
}
