import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One compression plan as a selectable row; picking it leaves the mode alone. The
// rows are one radio group: one Tab stop, the arrow keys move the choice. A radio
// button for its accessible role and checked state; not checkable, so a click
// never unbinds `checked` from the controller's plan.
RadioButton {
    id: row

    required property var app
    property string plan
    property string title
    property string badge
    property string subtitle
    readonly property bool selected: app.plan === plan
    signal stepped(int by)

    objectName: "plan_" + plan
    padding: 10
    opacity: enabled ? 1 : 0.5
    checkable: false
    checked: selected
    // A screen reader's press or toggle checks the button itself: take it as the choice,
    // then follow the controller again (not while `checked` is still announcing its change).
    onCheckedChanged: {
        if (checked !== selected) {
            if (checked)
                app.plan = plan
            Qt.callLater(followSelection)
        }
    }
    function followSelection() { checked = Qt.binding(() => row.selected) }
    autoExclusive: false
    indicator: null
    focusPolicy: selected ? Qt.StrongFocus : Qt.ClickFocus
    Accessible.name: title
    Accessible.description: subtitle
    Keys.onUpPressed: stepped(-1)
    Keys.onLeftPressed: stepped(-1)
    Keys.onDownPressed: stepped(1)
    Keys.onRightPressed: stepped(1)

    onClicked: if (!selected) app.plan = plan

    background: Rectangle {
        radius: 10
        color: row.selected ? Style.alpha(Style.accent, 0.08)
                            : row.hovered ? Style.alpha(Style.primary, 0.03) : "transparent"
        border.width: row.visualFocus ? 2 : 0
        border.color: Style.accent
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
