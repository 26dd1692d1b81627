import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Where a queued video is in the run: waiting, a percentage with a bar, done,
// or failed with the reason on hover. Only the current state's view exists: a
// long queue would otherwise carry four of them per row.
Loader {
    id: view

    property string itemState: "pending"
    property real progress: 0
    property string failureMessage

    objectName: "batchStatus"
    sourceComponent: itemState === "compressing" ? compressingView
                   : itemState === "completed" ? completedView
                   : itemState === "failed" ? failedView
                   : pendingView

    Component {
        id: pendingView

        SymbolLabel {
            iconName: "clock"
            text: "等待"
            color: Style.secondary
        }
    }

    Component {
        id: compressingView

        ColumnLayout {
            spacing: 3

            Label {
                objectName: "itemPercent"
                text: Style.percent(view.progress)
                font.pixelSize: Style.caption
                color: Style.accent
                Layout.alignment: Qt.AlignRight
            }

            LinearProgress {
                Accessible.name: "本视频进度"
                value: view.progress
                Layout.preferredWidth: 64
            }
        }
    }

    Component {
        id: completedView

        SymbolLabel {
            iconName: "check-circle-fill"
            text: "完成"
            color: Style.green
        }
    }

    Component {
        id: failedView

        SymbolLabel {
            objectName: "failedLabel"
            iconName: "exclamation-circle-fill"
            text: "失败"
            color: Style.red

            HoverHandler { id: failedHover }
            ToolTip.visible: failedHover.hovered && view.failureMessage.length > 0
            ToolTip.text: view.failureMessage
        }
    }
}
