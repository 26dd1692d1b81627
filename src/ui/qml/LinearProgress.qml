import QtQuick
import QtQuick.Controls

// A thin rounded progress bar in the accent colour.
ProgressBar {
    id: bar

    from: 0
    to: 1
    Accessible.role: Accessible.ProgressBar
    // Qt 6.4 gives a progress bar no value interface: the percentage is its description.
    Accessible.description: Style.percent(visualPosition)

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
