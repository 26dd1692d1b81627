import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Mutually exclusive segments in one rounded frame. `options` are { title, value };
// picking a segment other than the current one reports its value.
Control {
    id: picker

    property var options: []
    property string current
    signal activated(string value)

    padding: 2
    opacity: enabled ? 1 : 0.5
    Accessible.role: Accessible.PageTabList

    background: Rectangle {
        implicitHeight: 30
        radius: 8
        color: Style.alpha(Style.primary, Style.dark ? 0.1 : 0.06)
        border.color: Style.alpha(Style.primary, 0.08)
    }

    contentItem: RowLayout {
        spacing: 2

        Repeater {
            model: picker.options

            AbstractButton {
                id: segment

                required property var modelData
                readonly property bool selected: modelData.value === picker.current

                objectName: "segment_" + modelData.value
                text: modelData.title
                checkable: false
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
                Accessible.role: Accessible.PageTab
                Accessible.checked: segment.selected

                onClicked: if (!segment.selected) picker.activated(segment.modelData.value)

                background: Rectangle {
                    radius: 6
                    color: segment.selected ? (Style.dark ? Qt.rgba(1, 1, 1, 0.16) : "white")
                                            : segment.hovered ? Style.alpha(Style.primary, 0.05) : "transparent"
                    border.color: segment.selected ? Style.alpha(Style.primary, Style.dark ? 0.12 : 0.1) : "transparent"
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
