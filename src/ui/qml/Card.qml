import QtQuick
import QtQuick.Controls

// The look every workspace card shares: padded content on a translucent,
// rounded panel with a faint outline.
Control {
    padding: 18

    background: Rectangle {
        radius: 18
        color: Style.regularMaterial
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }
}
