import QtQuick
import QtQuick.Controls

// A small player in the preview card, captioned in its top-left corner. It
// pauses when it is hidden or goes away.
VideoSurface {
    id: inline

    objectName: "inlinePlayer"
    radius: 12

    onVisibleChanged: if (!visible) player.pause()
    Component.onDestruction: player.pause()

    Label {
        text: inline.title
        font.pixelSize: Style.caption
        font.weight: Font.Medium
        leftPadding: 8
        rightPadding: 8
        topPadding: 5
        bottomPadding: 5
        x: 8
        y: 8
        background: Rectangle {
            radius: height / 2
            color: Style.ultraThinMaterial
        }
    }
}
