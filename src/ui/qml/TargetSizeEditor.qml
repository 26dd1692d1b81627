import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The target size in megabytes, written and read in the user's locale with at
// most one fraction digit. Text that does not read as a number changes nothing.
ColumnLayout {
    id: editor

    required property var app

    objectName: "targetSizeEditor"
    spacing: 8
    opacity: enabled ? 1 : 0.5

    // 25 → "25", 12.5 → "12.5", 12.25 → "12.3" (the locale's rounding).
    function display(megabytes) {
        const oneDigit = Number(megabytes).toLocaleString(Qt.locale(), "f", 1)
        const whole = Number(megabytes).toLocaleString(Qt.locale(), "f", 0)
        return Number.fromLocaleString(Qt.locale(), oneDigit) === Number.fromLocaleString(Qt.locale(), whole)
            ? whole : oneDigit
    }

    function commit(text) {
        let value
        try {
            value = Number.fromLocaleString(Qt.locale(), text.trim())
        } catch (unreadable) {
            value = NaN
        }
        if (isFinite(value))
            app.targetSizeMB = value
        field.text = display(app.targetSizeMB)
    }

    Label {
        text: "压缩到"
        font.pixelSize: Style.subheadline
        color: Style.secondary
    }

    RowLayout {
        spacing: 8
        Layout.fillWidth: true

        TextField {
            id: field
            objectName: "targetSizeField"
            placeholderText: "25"
            Accessible.name: "目标体积（MB）"
            font.pixelSize: Style.body
            selectByMouse: true
            Layout.fillWidth: true
            Component.onCompleted: text = editor.display(editor.app.targetSizeMB)
            onEditingFinished: editor.commit(text)

            Connections {
                target: editor.app
                // Sizes set by the controller show at once, unless the user is typing.
                function onSettingsChanged() {
                    if (!field.activeFocus)
                        field.text = editor.display(editor.app.targetSizeMB)
                }
            }
        }

        Label {
            text: "MB"
            font.pixelSize: Style.body
            color: Style.secondary
        }
    }

    Label {
        text: "目标体积为估算值，结果通常在 ±5% 内"
        font.pixelSize: Style.caption
        color: Style.secondary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
