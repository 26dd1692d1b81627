import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The original and the five-second sample side by side, the generate button,
// and the way into the large comparison.
Card {
    id: card

    required property var app
    required property var shell
    readonly property bool hasSample: String(app.previewURL).length > 0
    // A player belongs to one file and one start: when either changes a new one is made.
    readonly property string originalKey: String(app.video.url) + "#" + keyNumber(app.previewStartTime)
    readonly property string sampleKey: hasSample ? String(app.previewURL) + "#0.0" : ""

    function keyNumber(seconds) {
        const text = String(seconds)
        return Number.isInteger(seconds) ? text + ".0" : text
    }

    objectName: "previewCard"

    contentItem: ColumnLayout {
        spacing: 14

        RowLayout {
            Layout.fillWidth: true

            Label {
                text: "效果预览"
                font.pixelSize: Style.headline
                font.weight: Font.DemiBold
            }

            Item { Layout.fillWidth: true }

            ActionButton {
                objectName: "expandButton"
                visible: card.hasSample
                text: "放大对比"
                icon.source: Style.iconUrl("expand")
                // The start time as it is at the moment of the click.
                onClicked: card.shell.openComparison(card.app.video.url, card.app.previewURL, card.app.previewStartTime)
            }

            ActionButton {
                id: generate
                objectName: "generatePreviewButton"
                readonly property bool generating: card.app.isGeneratingPreview
                enabled: !generating && !card.shell.busy
                text: generating ? "" : "生成 5 秒预览"
                Accessible.name: "生成 5 秒预览"
                Accessible.description: generating ? "正在生成预览" : ""
                onClicked: card.app.generatePreview()

                contentItem: Item {
                    implicitWidth: generate.generating ? spinner.implicitWidth : label.implicitWidth
                    implicitHeight: Math.max(label.implicitHeight, spinner.implicitHeight)

                    BusyIndicator {
                        id: spinner
                        objectName: "previewSpinner"
                        visible: generate.generating
                        running: generate.generating
                        anchors.centerIn: parent
                        implicitWidth: 18
                        implicitHeight: 18
                        padding: 0
                    }

                    Row {
                        id: label
                        visible: !generate.generating
                        anchors.centerIn: parent
                        spacing: 5
                        opacity: generate.enabled ? 1 : 0.45

                        Icon {
                            name: "wand"
                            size: 15
                            color: generate.palette.buttonText
                            anchors.verticalCenter: parent.verticalCenter
                        }

                        Label {
                            text: "生成 5 秒预览"
                            font: generate.font
                            color: generate.palette.buttonText
                            anchors.verticalCenter: parent.verticalCenter
                        }
                    }
                }
            }
        }

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            Repeater {
                model: [card.originalKey]

                InlinePlayer {
                    objectName: "originalPlayer"
                    title: "原视频"
                    source: card.app.video.url
                    startTime: card.app.previewStartTime
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.preferredHeight: width * 9 / 16
                }
            }

            Repeater {
                model: card.hasSample ? [card.sampleKey] : []

                InlinePlayer {
                    objectName: "samplePlayer"
                    title: "压缩效果"
                    source: card.app.previewURL
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.preferredHeight: width * 9 / 16
                }
            }

            Rectangle {
                objectName: "samplePlaceholder"
                visible: !card.hasSample
                radius: 12
                color: Style.alpha(Style.quaternary, Style.quaternary.a * 0.45)
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.preferredHeight: width * 9 / 16

                ColumnLayout {
                    anchors.centerIn: parent
                    spacing: 8

                    Icon {
                        name: "sparkles-tv"
                        size: 28
                        color: Style.secondary
                        Layout.alignment: Qt.AlignHCenter
                    }

                    Label {
                        text: "生成后在这里对比"
                        font.pixelSize: Style.caption
                        color: Style.secondary
                        Layout.alignment: Qt.AlignHCenter
                    }
                }
            }
        }
    }
}
