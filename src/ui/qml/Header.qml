import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Logo, name and tagline; the two file buttons only while a video is shown.
RowLayout {
    id: header

    required property var app
    required property var shell

    spacing: 12

    Image {
        objectName: "logo"
        source: "qrc:/slimreel/SlimreelLogo.png"
        sourceSize: Qt.size(76, 76)
        fillMode: Image.PreserveAspectFit
        smooth: true
        mipmap: true
        Layout.preferredWidth: 38
        Layout.preferredHeight: 38
        Accessible.role: Accessible.Graphic
        Accessible.name: "Slimreel Logo"
        // The application icon stands in when the picture cannot be read.
        onStatusChanged: if (status === Image.Error) source = "qrc:/slimreel/SlimreelLogo.svg"
    }

    ColumnLayout {
        spacing: 1

        Label {
            text: "Slimreel"
            font.pixelSize: Style.title2
            font.weight: Font.Bold
        }

        Label {
            text: "视频变轻，画质依旧"
            font.pixelSize: Style.caption
            color: Style.secondary
        }
    }

    Item { Layout.fillWidth: true }

    ActionButton {
        objectName: "addVideosButton"
        tip: "添加视频（Ctrl+O）"
        visible: header.app.hasVideo
        enabled: !header.shell.busy
        text: "添加视频"
        icon.source: Style.iconUrl("plus")
        onClicked: header.shell.presentPicker("addVideos")
    }

    ActionButton {
        objectName: "replaceVideoButton"
        visible: header.app.hasVideo
        enabled: !header.shell.busy
        text: "更换视频"
        icon.source: Style.iconUrl("swap")
        onClicked: {
            header.shell.closeComparison()
            header.shell.presentPicker("replaceVideo")
        }
    }
}
