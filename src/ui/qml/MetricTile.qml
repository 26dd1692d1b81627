import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One fact of the video card: a small title over its value, an equal share wide.
ColumnLayout {
    property string title
    property string value

    objectName: "metric"
    spacing: 3
    Layout.fillWidth: true
    Layout.preferredWidth: 1

    Label {
        text: parent.title
        font.pixelSize: Style.caption
        color: Style.secondary
    }

    Label {
        objectName: "metricValue"
        text: parent.value
        font.pixelSize: Style.subheadline
        font.weight: Font.Medium
        elide: Text.ElideRight
        Layout.fillWidth: true
    }
}
