import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One queued video: name and facts, its run status and a remove button. A click
// anywhere else asks the controller to select it, also while a run is busy.
Rectangle {
    id: row

    property var app
    property var shell
    property string itemId
    property string fileName
    property real duration
    property real fileSize
    property string itemState: "pending"
    property string failureMessage
    property real progress
    property bool selected

    objectName: "queueRow"
    implicitHeight: content.implicitHeight + 18
    radius: 10
    color: selected ? Style.alpha(Style.accent, 0.09) : Style.alpha(Style.primary, Style.secondary.a * 0.045)

    MouseArea {
        anchors.fill: parent
        onClicked: row.app.selectItem(row.itemId)
    }

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        anchors.topMargin: 9
        anchors.bottomMargin: 9
        spacing: 10

        Icon {
            name: row.selected ? "video-fill" : "video"
            color: row.selected ? Style.accent : Style.secondary
            size: 18
            Layout.preferredWidth: 22
        }

        ColumnLayout {
            spacing: 3
            Layout.fillWidth: true

            Label {
                objectName: "rowFileName"
                text: row.fileName
                font.pixelSize: Style.subheadline
                font.weight: Font.Medium
                elide: Text.ElideMiddle
                maximumLineCount: 1
                Layout.fillWidth: true
            }

            Label {
                text: row.app.formatDuration(row.duration) + " · " + row.app.formatBytes(row.fileSize)
                font.pixelSize: Style.caption
                color: Style.secondary
            }
        }

        BatchStatus {
            itemState: row.itemState
            progress: row.progress
            failureMessage: row.failureMessage
        }

        ToolButton {
            objectName: "removeRowButton"
            enabled: !row.shell.busy
            icon.source: Style.iconUrl("close-circle-fill")
            icon.color: Style.secondary
            icon.width: 16
            icon.height: 16
            flat: true
            padding: 2
            background: null
            opacity: enabled ? 1 : 0.4
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "从队列移除"
            onClicked: row.app.removeItem(row.itemId)
        }
    }
}
