import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtMultimedia

// Play or pause, and where in the video: the transport bar over a player.
Rectangle {
    id: bar

    required property MediaPlayer player
    readonly property bool playing: player.playbackState === MediaPlayer.PlayingState
    property string subject
    readonly property bool holdsFocus: playPause.activeFocus || slider.activeFocus

    function clock(milliseconds) {
        const seconds = Math.max(0, Math.floor(milliseconds / 1000))
        return Math.floor(seconds / 60) + ":" + String(seconds % 60).padStart(2, "0")
    }

    implicitHeight: 30
    radius: 8
    color: Qt.rgba(0, 0, 0, 0.5)

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 4
        anchors.rightMargin: 10
        spacing: 6

        IconButton {
            id: playPause
            objectName: "playPauseButton"
            name: (bar.playing ? "暂停" : "播放") + bar.subject
            iconName: bar.playing ? "pause-fill" : "play-fill"
            iconColor: "white"
            iconSize: 14
            padding: 4
            onClicked: bar.playing ? bar.player.pause() : bar.player.play()
        }

        Slider {
            id: slider
            from: 0
            to: Math.max(1, bar.player.duration)
            value: bar.player.position
            enabled: bar.player.seekable
            Accessible.name: bar.subject + "播放位置"
            Layout.fillWidth: true
            onMoved: bar.player.setPosition(value)

            background: Rectangle {
                x: slider.leftPadding
                y: slider.topPadding + slider.availableHeight / 2 - height / 2
                width: slider.availableWidth
                height: 3
                radius: 1.5
                color: Qt.rgba(1, 1, 1, 0.3)

                Rectangle {
                    width: slider.visualPosition * parent.width
                    height: parent.height
                    radius: 1.5
                    color: "white"
                }
            }

            handle: Rectangle {
                x: slider.leftPadding + slider.visualPosition * (slider.availableWidth - width)
                y: slider.topPadding + slider.availableHeight / 2 - height / 2
                implicitWidth: 11
                implicitHeight: 11
                radius: 5.5
                color: "white"
            }
        }

        Label {
            text: bar.clock(bar.player.position) + " / " + bar.clock(bar.player.duration)
            font.pixelSize: Style.caption2
            color: "white"
        }
    }
}
