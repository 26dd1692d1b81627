import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The expected output size of the selected video and what it saves.
Rectangle {
    id: box

    required property var app

    objectName: "estimateBox"
    implicitHeight: rows.implicitHeight + 28
    radius: 12
    color: Style.alpha(Style.accent, 0.08)

    ColumnLayout {
        id: rows
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        RowLayout {
            Layout.fillWidth: true

            Label {
                text: "预计输出"
                font.pixelSize: Style.body
                color: Style.secondary
            }

            Item { Layout.fillWidth: true }

            Label {
                objectName: "estimatedSize"
                text: box.app.estimatedSizeText
                font.pixelSize: Style.title3
                font.weight: Font.DemiBold
            }
        }

        RowLayout {
            Layout.fillWidth: true

            Label {
                objectName: "sourceSize"
                text: "原始大小：" + box.app.formatBytes(box.app.video.fileSize ?? 0)
                font.pixelSize: Style.caption
                color: Style.secondary
            }

            Item { Layout.fillWidth: true }

            Label {
                objectName: "savings"
                text: box.app.savingsText
                font.pixelSize: Style.caption
                font.weight: Font.Medium
                color: Style.accent
            }
        }
    }
}
