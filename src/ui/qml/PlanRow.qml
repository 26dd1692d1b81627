import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One compression plan as a selectable row; picking it leaves the mode alone.
AbstractButton {
    id: row

    required property var app
    property string plan
    property string title
    property string badge
    property string subtitle
    readonly property bool selected: app.plan === plan

    objectName: "plan_" + plan
    padding: 10
    opacity: enabled ? 1 : 0.5
    Accessible.role: Accessible.RadioButton
    Accessible.name: title
    Accessible.checked: selected

    onClicked: if (!selected) app.plan = plan

    background: Rectangle {
        radius: 10
        color: row.selected ? Style.alpha(Style.accent, 0.08)
                            : row.hovered ? Style.alpha(Style.primary, 0.03) : "transparent"
    }

    contentItem: RowLayout {
        spacing: 8

        Icon {
            objectName: "checkMark"
            name: row.selected ? "check-circle-fill" : "circle"
            color: row.selected ? Style.accent : Style.secondary
            size: 18
        }

        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true

            RowLayout {
                spacing: 6

                Label {
                    text: row.title
                    font.pixelSize: Style.body
                }

                Label {
                    visible: row.badge.length > 0
                    text: row.badge
                    font.pixelSize: Style.caption2
                    font.weight: Font.DemiBold
                    color: Style.accent
                }
            }

            Label {
                text: row.subtitle
                font.pixelSize: Style.caption
                color: Style.secondary
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }
    }
}
