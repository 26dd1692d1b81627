import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The bottom of the settings panel: the start button, the progress of a run
// with its cancel button, or the finished run with its output folder.
Item {
    id: area

    required property var app
    required property var shell
    readonly property bool completed: app.state === "completed" && String(app.outputFolder).length > 0

    objectName: "actionArea"
    implicitHeight: shell.busy ? progressBlock.implicitHeight
                  : completed ? completionBlock.implicitHeight : startButton.implicitHeight

    ProminentButton {
        id: startButton
        objectName: "startButton"
        visible: !area.shell.busy && !area.completed
        width: parent.width
        iconName: "bolt-fill"
        text: area.app.itemCount < 2 ? "开始压缩" : "压缩 " + area.app.itemCount + " 个视频"
        tip: "开始压缩（Ctrl+Enter）"
        onClicked: area.shell.presentPicker("outputFolder")
    }

    ColumnLayout {
        id: progressBlock
        objectName: "progressBlock"
        visible: area.shell.busy
        width: parent.width
        spacing: 10

        LinearProgress {
            objectName: "totalProgress"
            Accessible.name: "总进度"
            value: area.app.progress
            Layout.fillWidth: true
        }

        RowLayout {
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 2
                Layout.fillWidth: true

                Label {
                    objectName: "statusLine"
                    text: area.app.currentItemName.length > 0 ? "正在压缩：" + area.app.currentItemName : "正在准备…"
                    font.pixelSize: Style.caption
                    elide: Text.ElideMiddle
                    maximumLineCount: 1
                    Layout.fillWidth: true
                }

                Label {
                    objectName: "currentRemaining"
                    visible: area.app.currentRemainingText.length > 0
                    text: "本视频" + area.app.currentRemainingText
                    font.pixelSize: Style.caption
                    color: Style.secondary
                }

                Label {
                    objectName: "totalLine"
                    text: "总进度 " + Style.percent(area.app.progress)
                          + (area.app.batchRemainingText.length > 0 ? " · 全部" + area.app.batchRemainingText : "")
                    font.pixelSize: Style.caption
                    color: Style.secondary
                }
            }

            ActionButton {
                objectName: "cancelButton"
                text: "取消"
                onClicked: area.app.cancel()
            }
        }
    }

    ColumnLayout {
        id: completionBlock
        objectName: "completionBlock"
        visible: !area.shell.busy && area.completed
        width: parent.width
        spacing: 10

        SymbolLabel {
            iconName: "check-circle-fill"
            text: "批量压缩完成"
            color: Style.green
            pixelSize: Style.body
            weight: Font.Medium
            Layout.alignment: Qt.AlignHCenter
        }

        ActionButton {
            objectName: "openFolderButton"
            text: "打开输出文件夹"
            Layout.alignment: Qt.AlignHCenter
            onClicked: Qt.openUrlExternally(area.app.outputFolder)
        }
    }
}
