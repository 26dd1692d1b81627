import QtQuick
import QtQuick.Controls

// A borderless icon button. It has no text, so `name` is what a screen reader says
// and what its tooltip shows.
ToolButton {
    id: button

    required property string name
    property string iconName
    property color iconColor: Style.secondary
    property int iconSize: 16

    icon.source: Style.iconUrl(iconName)
    icon.color: iconColor
    icon.width: iconSize
    icon.height: iconSize
    padding: 2
    flat: true
    opacity: enabled ? 1 : 0.4
    Accessible.name: name
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    ToolTip.visible: hovered
    ToolTip.delay: 600
    ToolTip.text: name

    background: FocusRing { control: button; radius: width / 2 }
}
