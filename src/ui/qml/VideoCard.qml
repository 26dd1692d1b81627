import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Slimreel

// The selected video: its name and facts, four metrics and the remove button.
Card {
    id: card

    required property var app
    required property var shell
    readonly property var video: app.video

    objectName: "videoCard"

    contentItem: ColumnLayout {
        spacing: 14

        RowLayout {
            Layout.fillWidth: true

            Icon {
                name: "video-fill"
                size: Style.title
                color: Style.accent
            }

            ColumnLayout {
                spacing: 3
                Layout.fillWidth: true

                Label {
                    objectName: "videoFileName"
                    text: card.video.fileName ?? ""
                    font.pixelSize: Style.headline
                    font.weight: Font.DemiBold
                    elide: Text.ElideMiddle
                    maximumLineCount: 1
                    Layout.fillWidth: true
                }

                Label {
                    text: card.app.formatDuration(card.video.duration ?? 0) + "  ·  "
                          + card.app.formatBytes(card.video.fileSize ?? 0)
                    font.pixelSize: Style.subheadline
                    color: Style.secondary
                }
            }

            IconButton {
                objectName: "removeVideoButton"
                name: "移除视频（Delete）"
                iconName: "close-circle-fill"
                iconSize: 20
                onClicked: card.shell.requestRemoval()
            }
        }

        Rectangle {
            implicitHeight: 1
            color: Style.alpha(Style.primary, 0.1)
            Layout.fillWidth: true
        }

        RowLayout {
            spacing: 8
            Layout.fillWidth: true

            MetricTile {
                title: "分辨率"
                value: (card.video.width ?? 0) + " × " + (card.video.height ?? 0)
            }

            MetricTile {
                title: "编码"
                value: card.video.codec ?? ""
            }

            MetricTile {
                title: "帧率"
                value: NumberText.fixed(card.video.frameRate ?? 0, 0) + " fps"
            }

            MetricTile {
                title: "码率"
                value: (card.video.videoBitrate ?? 0) > 0
                       ? NumberText.fixed(card.video.videoBitrate / 1000000, 1) + " Mbps" : "未知"
            }
        }
    }
}
