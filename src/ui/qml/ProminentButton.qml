import QtQuick
import QtQuick.Controls

// The filled accent button of the window's main actions, in the large size.
ActionButton {
    id: button

    property string iconName

    font.pixelSize: Style.body + 1
    font.weight: Font.Medium
    leftPadding: 20
    rightPadding: 20
    topPadding: 10
    bottomPadding: 10

    contentItem: Item {
        implicitWidth: row.implicitWidth
        implicitHeight: row.implicitHeight

        Row {
            id: row
            anchors.centerIn: parent
            spacing: 7

            Icon {
                name: button.iconName
                visible: button.iconName.length > 0
                size: 15
                color: Style.palette.highlightedText
                anchors.verticalCenter: parent.verticalCenter
            }

            Label {
                text: button.text
                font: button.font
                color: Style.palette.highlightedText
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    background: Rectangle {
        implicitHeight: 38
        radius: 9
        color: button.down ? Qt.darker(Style.accent, 1.15) : button.hovered ? Qt.lighter(Style.accent, 1.06) : Style.accent
        opacity: button.enabled ? 1 : 0.45
        border.width: button.visualFocus ? 2 : 0
        border.color: Style.palette.highlightedText
    }
}
