import QtQuick
import QtQuick.Controls

// One of the comparison window's players, captioned in white on a dark capsule.
VideoSurface {
    id: large


    objectName: "largePlayer"
    radius: 14

    Label {
        text: large.title
        font.pixelSize: Style.caption
        font.weight: Font.DemiBold
        color: "white"
        leftPadding: 10
        rightPadding: 10
        topPadding: 6
        bottomPadding: 6
        x: 12
        y: 12
        background: Rectangle {
            radius: height / 2
            color: Qt.rgba(0, 0, 0, 0.58)
        }
    }
}
