import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Two columns below the header: the queue, the video and its preview on the
// left; the settings and the action area in a fixed-width panel on the right.
Item {
    id: workspace

    required property var app
    required property var shell

    objectName: "workspace"

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 28
        anchors.rightMargin: 28
        anchors.bottomMargin: 28
        spacing: 24

        ScrollView {
            id: leftColumn
            objectName: "leftColumn"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.alignment: Qt.AlignTop
            clip: true
            contentWidth: availableWidth
            contentHeight: cards.implicitHeight + 2
            ScrollBar.vertical.policy: ScrollBar.AlwaysOff
            ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

            ColumnLayout {
                id: cards
                y: 1
                width: leftColumn.availableWidth
                spacing: 18

                BatchQueueCard {
                    app: workspace.app
                    shell: workspace.shell
                    Layout.fillWidth: true
                }

                VideoCard {
                    app: workspace.app
                    shell: workspace.shell
                    Layout.fillWidth: true
                }

                PreviewCard {
                    app: workspace.app
                    shell: workspace.shell
                    Layout.fillWidth: true
                }
            }

            DropArea {
                parent: leftColumn
                anchors.fill: parent
                onEntered: workspace.shell.isDropTargeted = true
                onExited: workspace.shell.isDropTargeted = false
                onDropped: drop => {
                    workspace.shell.isDropTargeted = false
                    if (workspace.shell.acceptDrop(drop.urls))
                        drop.accept(Qt.CopyAction)
                    else
                        drop.accepted = false
                }
            }
        }

        ScrollView {
            id: rightColumn
            objectName: "rightColumn"
            Layout.preferredWidth: 340
            Layout.fillHeight: true
            Layout.alignment: Qt.AlignTop
            clip: true
            contentWidth: availableWidth
            contentHeight: settings.implicitHeight + 40
            ScrollBar.vertical.policy: ScrollBar.AlwaysOff
            ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

            background: Rectangle {
                radius: 18
                color: Style.regularMaterial
            }

            SettingsPanel {
                id: settings
                app: workspace.app
                shell: workspace.shell
                x: 20
                y: 20
                width: rightColumn.availableWidth - 40
            }
        }
    }
}
