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

            ActionButton {
                objectName: "clearQueueButton"
                text: "清空"
                icon.source: Style.iconUrl("trash")
                enabled: !card.shell.busy && card.app.itemCount > 0
                tip: "清空队列，不会删除原视频或输出文件"
                onClicked: card.shell.clearQueue()
            }

            ActionButton {
                objectName: "addToQueueButton"
                tip: "添加视频（Ctrl+O）"
                text: "添加"
                icon.source: Style.iconUrl("plus")
                enabled: !card.shell.busy
                onClicked: card.shell.presentPicker("addVideos")
            }
        }

        // Every row of a short queue; past eight rows the card stops growing and
        // the list scrolls within it, with rows made only for what is in sight.
        ListView {
            id: rows
            objectName: "queueList"

            readonly property int shownRows: Math.min(count, 8)
            readonly property real rowHeight: count > 0 ? (contentHeight + spacing) / count - spacing : 0

            model: card.app.batchItems
            spacing: 6
            clip: true
            reuseItems: true
            boundsBehavior: Flickable.StopAtBounds
            interactive: count > shownRows
            visible: count > 0
            // One Tab stop; the arrow keys move the selection, Delete removes it (the window's shortcut).
            activeFocusOnTab: true
            keyNavigationEnabled: false
            Accessible.role: Accessible.List
            Accessible.name: "视频队列"
            Keys.onUpPressed: step(-1)
            Keys.onDownPressed: step(1)

            function step(by) {
                const row = card.app.batchItems.rowOfItem(card.app.selectedItemID)
                const next = Math.max(0, Math.min(count - 1, row + by))
                positionViewAtIndex(next, ListView.Contain)
                const item = itemAtIndex(next)
                if (item)
                    card.app.selectItem(item.itemId)
            }
            Layout.fillWidth: true
            Layout.preferredHeight: shownRows > 0 ? shownRows * (rowHeight + spacing) - spacing : 0

            ScrollBar.vertical: ScrollBar {
                objectName: "queueScrollBar"
                policy: rows.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                minimumSize: 0.05
            }

            // The video being compressed, and a selection made elsewhere, come into sight.
            function reveal(row) {
                if (row >= 0) {
                    positionViewAtIndex(row, ListView.Contain)
                }
            }

            Connections {
                target: card.app
                function onCurrentItemNameChanged() { rows.reveal(card.app.batchItems.compressingRow()) }
                function onSelectedItemIDChanged() { rows.reveal(card.app.batchItems.rowOfItem(card.app.selectedItemID)) }
            }

            delegate: BatchQueueRow {
                required property var model
                width: ListView.view.width - (rows.interactive ? 14 : 0)
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
                keyboardFocus: rows.activeFocus
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
