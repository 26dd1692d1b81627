import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The queue: a count line, the clear and add buttons, one row per video.
Card {
    id: card

    required property var app
    required property var shell

    objectName: "batchQueueCard"

    contentItem: ColumnLayout {
        spacing: 12

        RowLayout {
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 2

                Label {
                    text: "视频队列"
                    font.pixelSize: Style.headline
                    font.weight: Font.DemiBold
                }

                Label {
                    objectName: "queueCount"
                    text: "共 " + card.app.itemCount + " 个视频，使用同一套压缩设置"
                    font.pixelSize: Style.caption
                    color: Style.secondary
                }
            }

            Item { Layout.fillWidth: true }

            Button {
                objectName: "clearQueueButton"
                text: "清空"
                icon.source: Style.iconUrl("trash")
                enabled: !card.shell.busy && card.app.itemCount > 0
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "清空队列，不会删除原视频或输出文件"
                onClicked: card.shell.clearQueue()
            }

            Button {
                objectName: "addToQueueButton"
                text: "添加"
                icon.source: Style.iconUrl("plus")
                enabled: !card.shell.busy
                onClicked: card.shell.presentPicker("addVideos")
            }
        }

        ColumnLayout {
            spacing: 6
            Layout.fillWidth: true

            Repeater {
                model: card.app.batchItems

                delegate: BatchQueueRow {
                    required property var model
                    app: card.app
                    shell: card.shell
                    itemId: model.itemId
                    fileName: model.fileName
                    duration: model.duration
                    fileSize: model.fileSize
                    itemState: model.state
                    failureMessage: model.failureMessage
                    progress: model.progress
                    selected: model.isSelected
                    Layout.fillWidth: true
                }
            }
        }
    }

    // The workspace's only answer to files hovering over the left column.
    Rectangle {
        objectName: "dropOutline"
        parent: card
        anchors.fill: parent
        radius: 18
        color: "transparent"
        border.width: 2
        border.color: card.shell.isDropTargeted ? Style.accent : "transparent"
    }
}
