import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A small modal sheet over the window: title, message and buttons. Each action
// is { text, role } with role "default", "cancel" or "destructive"; any button
// closes the sheet and reports its index.
Dialog {
    id: dialog

    property string message
    property var actions: []
    signal chosen(int index)

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(440, parent ? parent.width - 80 : 440)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 22
    topPadding: 20

    background: Rectangle {
        radius: 12
        color: Style.palette.window
        border.color: Style.alpha(Style.primary, 0.14)
    }

    header: null

    function choose(index) {
        close()
        chosen(index)
    }

    // Return picks the default button, or the only one.
    function chooseDefault() {
        const index = actions.findIndex(action => action.role === "default")
        if (index >= 0)
            choose(index)
        else if (actions.length === 1)
            choose(0)
    }

    contentItem: ColumnLayout {
        spacing: 8
        focus: true
        Keys.onReturnPressed: dialog.chooseDefault()
        Keys.onEnterPressed: dialog.chooseDefault()

        Label {
            text: dialog.title
            font.pixelSize: Style.headline
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Label {
            objectName: "message"
            text: dialog.message
            visible: text.length > 0
            font.pixelSize: Style.body
            wrapMode: Text.Wrap
            lineHeight: 1.15
            Layout.fillWidth: true
        }

        RowLayout {
            spacing: 8
            Layout.topMargin: 12
            Layout.alignment: Qt.AlignRight

            Repeater {
                model: dialog.actions

                ActionButton {
                    id: action
                    required property var modelData
                    required property int index
                    text: modelData.text
                    highlighted: modelData.role === "default"
                    palette.buttonText: modelData.role === "destructive" ? Style.red : Style.palette.buttonText
                    Layout.minimumWidth: 76
                    onClicked: dialog.choose(action.index)
                }
            }
        }
    }
}
