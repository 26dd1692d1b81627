import QtQuick
import QtQuick.Controls
import QtMultimedia
import Qt5Compat.GraphicalEffects

// One player's picture, letterboxed on black inside rounded corners, with a
// small transport bar while the pointer is over it or the video is paused.
// Once the file has loaded it shows its picture at `startTime` (0 leaves it at
// the start); nothing plays by itself.
Item {
    id: surface

    property url source
    // What it shows, for its caption and for a screen reader.
    property string title
    property real startTime: 0
    property real radius: 12
    readonly property alias player: mediaPlayer
    property bool positioned: false

    // Paused rather than stopped: the picture at the position shows, and seeks apply.
    function showStart() {
        mediaPlayer.pause()
        const target = Math.round(startTime * 1000)
        // A start past this file's end belongs to another video's sample; stay at the start.
        if (target > 0 && (mediaPlayer.duration <= 0 || target < mediaPlayer.duration))
            mediaPlayer.setPosition(target)
    }

    MediaDevices {
        id: devices
    }

    AudioOutput {
        id: sound
    }

    MediaPlayer {
        id: mediaPlayer
        source: surface.source
        videoOutput: output
        // Without any sound device an audio sink would keep the picture from playing too.
        audioOutput: devices.audioOutputs.length > 0 ? sound : null

        onMediaStatusChanged: {
            if (surface.positioned || mediaStatus !== MediaPlayer.LoadedMedia)
                return
            surface.positioned = true
            // Not from inside the player's own notification, which ignores both calls.
            Qt.callLater(surface.showStart)
        }
    }

    Item {
        id: picture
        anchors.fill: parent
        layer.enabled: true
        layer.effect: OpacityMask {
            maskSource: Rectangle {
                width: picture.width
                height: picture.height
                radius: surface.radius
            }
        }

        Rectangle {
            anchors.fill: parent
            color: "black"
        }

        VideoOutput {
            id: output
            anchors.fill: parent
            fillMode: VideoOutput.PreserveAspectFit
        }

        PlayerControls {
            id: controls
            player: mediaPlayer
            subject: surface.title
            // Keyboard focus keeps them, or it would be lost as they hide.
            visible: hover.hovered || mediaPlayer.playbackState !== MediaPlayer.PlayingState || controls.holdsFocus
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 8
        }
    }

    HoverHandler {
        id: hover
    }
}
