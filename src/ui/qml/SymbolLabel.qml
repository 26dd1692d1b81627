import QtQuick
import QtQuick.Controls

// A text with its symbol in front, both in one colour.
Row {
    id: label

    property string iconName
    property string text
    property color color: Style.primary
    property int pixelSize: Style.caption
    property int weight: Font.Normal

    spacing: 4

    Icon {
        name: label.iconName
        color: label.color
        size: label.pixelSize + 2
        anchors.verticalCenter: parent.verticalCenter
    }

    Label {
        text: label.text
        color: label.color
        font.pixelSize: label.pixelSize
        font.weight: label.weight
        anchors.verticalCenter: parent.verticalCenter
    }
}
