import QtQuick
import QtQuick.Controls

// A thin rounded progress bar in the accent colour.
ProgressBar {
    id: bar

    from: 0
    to: 1

    background: Rectangle {
        implicitWidth: 120
        implicitHeight: 6
        radius: 3
        color: Style.alpha(Style.primary, 0.1)
    }

    contentItem: Item {
        implicitHeight: 6

        Rectangle {
            width: bar.visualPosition * parent.width
            height: parent.height
            radius: 3
            color: Style.accent
        }
    }
}
