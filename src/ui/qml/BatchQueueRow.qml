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
    property bool keyboardFocus
    // What a screen reader says of the row: its name and where it is in the run.
    readonly property string statusText: itemState === "compressing" ? "正在压缩 " + Style.percent(progress)
                                       : itemState === "completed" ? "完成"
                                       : itemState === "failed" ? "失败：" + failureMessage : "等待"

    objectName: "queueRow"
    Accessible.role: Accessible.ListItem
    Accessible.name: fileName + "，" + statusText
    Accessible.selectable: true
    Accessible.selected: selected
    Accessible.onPressAction: app.selectItem(itemId)
    border.width: selected && keyboardFocus ? 2 : 0
    border.color: Style.accent
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

        // Out of the Tab order: a thousand rows would be a thousand stops; the keyboard
        // removes the selected video with Delete.
        IconButton {
            objectName: "removeRowButton"
            name: "从队列移除 " + row.fileName
            iconName: "close-circle-fill"
            enabled: !row.shell.busy
            focusPolicy: Qt.NoFocus
            onClicked: row.app.removeItem(row.itemId)
        }
    }
}
