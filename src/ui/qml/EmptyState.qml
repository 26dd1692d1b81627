import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Shapes

// What the window shows without a video: an invitation to drop or pick files,
// inside a dashed drop zone that lights up while files hover over it.
Item {
    id: emptyState

    required property var app
    required property var shell

    objectName: "emptyState"

    Shape {
        id: zone
        objectName: "dropZone"

        readonly property real lineWidth: 2
        // The line is drawn inside the rounded rectangle's edge.
        readonly property real inset: lineWidth / 2
        readonly property real radius: 24 - inset

        anchors.fill: parent
        anchors.margins: 36
        layer.enabled: true
        layer.samples: 4

        ShapePath {
            strokeWidth: zone.lineWidth
            strokeColor: emptyState.shell.isDropTargeted
                ? Style.accent : Style.alpha(Style.primary, Style.secondary.a * 0.25)
            fillColor: "transparent"
            strokeStyle: ShapePath.DashLine
            dashPattern: [4, 4] // in line widths: 8-point dashes and gaps
            joinStyle: ShapePath.MiterJoin
            miterLimit: 10
            capStyle: ShapePath.FlatCap

            startX: zone.inset + zone.radius; startY: zone.inset
            PathLine { x: zone.width - zone.inset - zone.radius; y: zone.inset }
            PathArc { x: zone.width - zone.inset; y: zone.inset + zone.radius; radiusX: zone.radius; radiusY: zone.radius }
            PathLine { x: zone.width - zone.inset; y: zone.height - zone.inset - zone.radius }
            PathArc { x: zone.width - zone.inset - zone.radius; y: zone.height - zone.inset; radiusX: zone.radius; radiusY: zone.radius }
            PathLine { x: zone.inset + zone.radius; y: zone.height - zone.inset }
            PathArc { x: zone.inset; y: zone.height - zone.inset - zone.radius; radiusX: zone.radius; radiusY: zone.radius }
            PathLine { x: zone.inset; y: zone.inset + zone.radius }
            PathArc { x: zone.inset + zone.radius; y: zone.inset; radiusX: zone.radius; radiusY: zone.radius }
        }
    }

    ColumnLayout {
        anchors.centerIn: parent
        spacing: 22

        Icon {
            id: symbol
            name: "film-stack"
            size: 56
            color: Style.accent
            Layout.alignment: Qt.AlignHCenter

            // A slow pulse for as long as the invitation shows, in steps of
            // 1/8 s: a smooth animation redraws the whole window 60 times a
            // second, which takes more than a core where OpenGL is drawn in
            // software. The steps are too small to see at this pace.
            Timer {
                id: pulse
                readonly property int period: 2800
                property int phase: 0
                interval: 125
                repeat: true
                running: symbol.visible
                onRunningChanged: if (!running) { phase = 0; symbol.opacity = 1 }
                onTriggered: {
                    phase = (phase + interval) % period
                    symbol.opacity = 0.7 + 0.3 * Math.cos(2 * Math.PI * phase / period)
                }
            }
        }

        ColumnLayout {
            spacing: 8
            Layout.alignment: Qt.AlignHCenter

            Label {
                text: "把视频拖到这里"
                font.pixelSize: 27
                font.weight: Font.DemiBold
                Layout.alignment: Qt.AlignHCenter
            }

            Label {
                text: "支持 MP4、MOV、MKV、WebM 等常见格式"
                font.pixelSize: Style.body
                color: Style.secondary
                Layout.alignment: Qt.AlignHCenter
            }
        }

        ProminentButton {
            objectName: "chooseVideosButton"
            text: "选择视频"
            tip: "添加视频（Ctrl+O）"
            iconName: "plus"
            Layout.alignment: Qt.AlignHCenter
            onClicked: emptyState.shell.presentPicker("addVideos")
        }

        Label {
            text: "所有处理都在本机完成，你的视频不会被上传"
            font.pixelSize: Style.caption
            color: Style.tertiary
            Layout.alignment: Qt.AlignHCenter
        }
    }

    DropArea {
        anchors.fill: parent
        onEntered: emptyState.shell.isDropTargeted = true
        onExited: emptyState.shell.isDropTargeted = false
        onDropped: drop => {
            emptyState.shell.isDropTargeted = false
            if (emptyState.shell.acceptDrop(drop.urls))
                drop.accept(Qt.CopyAction)
            else
                drop.accepted = false
        }
    }
}
