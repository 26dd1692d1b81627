import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The right-hand column: mode, plans or target size, the estimate, the action area.
ColumnLayout {
    id: panel

    required property var app
    required property var shell

    objectName: "settingsPanel"
    spacing: 18

    Label {
        text: "压缩设置"
        font.pixelSize: Style.title3
        font.weight: Font.DemiBold
    }

    SegmentedPicker {
        objectName: "modePicker"
        name: "模式"
        options: [{ title: "智能压缩", value: "quality" }, { title: "指定大小", value: "targetSize" }]
        current: panel.app.mode
        enabled: !panel.shell.busy
        Layout.fillWidth: true
        onActivated: value => panel.app.mode = value
    }

    ColumnLayout {
        objectName: "planList"
        visible: panel.app.mode === "quality"
        enabled: !panel.shell.busy
        spacing: 8
        Layout.fillWidth: true

        Repeater {
            id: plans
            model: [
                { plan: "fastest", title: "极速", badge: "", subtitle: "H.264 · 最高 720p · 速度最快" },
                { plan: "recommended", title: "推荐", badge: "默认", subtitle: "HEVC · 最高 1080p · 体积与速度兼顾" },
                { plan: "highQuality", title: "高质量", badge: "", subtitle: "x264 CRF · 保留分辨率 · 体积与画质最优" },
                { plan: "smallest", title: "最小体积", badge: "", subtitle: "AV1 · 保留分辨率 · 体积最小，较新的设备才能播放" }
            ]

            PlanRow {
                required property var modelData
                required property int index
                app: panel.app
                plan: modelData.plan
                title: modelData.title
                badge: modelData.badge
                subtitle: modelData.subtitle
                Layout.fillWidth: true
                // The arrow keys stop at the ends, as in a radio group.
                onStepped: by => {
                    const next = plans.itemAt(Math.max(0, Math.min(plans.count - 1, index + by)))
                    // Focus first: a row that loses the choice leaves the Tab order.
                    next.forceActiveFocus(Qt.TabFocusReason)
                    next.clicked()
                }
            }
        }
    }

    TargetSizeEditor {
        visible: panel.app.mode === "targetSize"
        enabled: !panel.shell.busy
        app: panel.app
        Layout.fillWidth: true
    }

    EstimateBox {
        app: panel.app
        Layout.fillWidth: true
    }

    ActionArea {
        app: panel.app
        shell: panel.shell
        Layout.fillWidth: true
    }
}
