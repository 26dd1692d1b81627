import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Mutually exclusive segments in one rounded frame. `options` are { title, value };
// picking a segment other than the current one reports its value.
Control {
    id: picker

    property var options: []
    property string current
    // What a screen reader calls the group.
    property string name
    signal activated(string value)

    padding: 2
    opacity: enabled ? 1 : 0.5

    background: Rectangle {
        implicitHeight: 30
        radius: 8
        color: Style.alpha(Style.primary, Style.dark ? 0.1 : 0.06)
        border.color: Style.alpha(Style.primary, 0.08)
    }

    // On the row: a control's own role would replace the tab list's.
    contentItem: RowLayout {
        spacing: 2
        Accessible.role: Accessible.PageTabList
        Accessible.name: picker.name

        Repeater {
            id: segments
            model: picker.options

            // Tab buttons for their accessible role; not checkable, so a click never unbinds `checked`.
            TabButton {
                id: segment

                required property var modelData
                required property int index
                readonly property bool selected: modelData.value === picker.current

                objectName: "segment_" + modelData.value
                text: modelData.title
                checkable: false
                checked: selected
                // As a plan row: a screen reader may check it directly.
                onCheckedChanged: {
                    if (checked !== selected) {
                        if (checked)
                            picker.activated(modelData.value)
                        Qt.callLater(followSelection)
                    }
                }
                function followSelection() { checked = Qt.binding(() => segment.selected) }
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
                focusPolicy: segment.selected ? Qt.StrongFocus : Qt.ClickFocus
                Accessible.selectable: true
                Accessible.selected: segment.selected
                // A tab offers Press only with its own handler; the window's forwarding makes a second
                // click, which changes nothing.
                Accessible.onPressAction: if (enabled) clicked()
                Accessible.onToggleAction: if (enabled) clicked()
                Keys.onLeftPressed: step(-1)
                Keys.onRightPressed: step(1)

                // Like a tab bar: the arrow keys pick the neighbour and focus follows.
                function step(by) {
                    const next = segments.itemAt(Math.max(0, Math.min(segments.count - 1, index + by)))
                    next.forceActiveFocus(Qt.TabFocusReason)
                    next.clicked()
                }

                onClicked: if (!segment.selected) picker.activated(segment.modelData.value)

                background: Rectangle {
                    radius: 6
                    color: segment.selected ? (Style.dark ? Qt.rgba(1, 1, 1, 0.16) : "white")
                                            : segment.hovered ? Style.alpha(Style.primary, 0.05) : "transparent"
                    border.width: segment.visualFocus ? 2 : 1
                    border.color: segment.visualFocus ? Style.accent
                                : segment.selected ? Style.alpha(Style.primary, Style.dark ? 0.12 : 0.1) : "transparent"
                }

                contentItem: Label {
                    text: segment.text
                    font.pixelSize: Style.body
                    font.weight: segment.selected ? Font.DemiBold : Font.Normal
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    topPadding: 4
                    bottomPadding: 4
                }
            }
        }
    }
}
