import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Where a queued video is in the run: waiting, a percentage with a bar, done,
// or failed with the reason on hover.
RowLayout {
    id: status

    property string itemState: "pending"
    property real progress: 0
    property string failureMessage

    objectName: "batchStatus"
    spacing: 0

    SymbolLabel {
        visible: status.itemState === "pending"
        iconName: "clock"
        text: "等待"
        color: Style.secondary
    }

    ColumnLayout {
        visible: status.itemState === "compressing"
        spacing: 3

        Label {
            objectName: "itemPercent"
            text: Style.percent(status.progress)
            font.pixelSize: Style.caption
            color: Style.accent
            Layout.alignment: Qt.AlignRight
        }

        LinearProgress {
            value: status.progress
            Layout.preferredWidth: 64
        }
    }

    SymbolLabel {
        visible: status.itemState === "completed"
        iconName: "check-circle-fill"
        text: "完成"
        color: Style.green
    }

    SymbolLabel {
        id: failed
        objectName: "failedLabel"
        visible: status.itemState === "failed"
        iconName: "exclamation-circle-fill"
        text: "失败"
        color: Style.red

        HoverHandler { id: failedHover }
        ToolTip.visible: failedHover.hovered && status.failureMessage.length > 0
        ToolTip.text: status.failureMessage
    }
}
