import QtQuick

// A symbol from the icon theme or our own drawings, tinted like text.
Item {
    property string name
    property color color: Style.primary
    property int size: 16

    implicitWidth: size
    implicitHeight: size

    Image {
        anchors.centerIn: parent
        width: parent.size
        height: parent.size
        sourceSize: Qt.size(parent.size, parent.size)
        fillMode: Image.PreserveAspectFit
        source: parent.name.length > 0 ? Style.iconUrl(parent.name, parent.color) : ""
    }
}
