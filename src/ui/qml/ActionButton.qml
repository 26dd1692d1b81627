import QtQuick
import QtQuick.Controls

// A push button that also answers the keyboard's Return and Enter (Qt's answer only Space).
Button {
    id: button

    property string tip

    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    ToolTip.visible: hovered && tip.length > 0
    ToolTip.delay: 600
    ToolTip.text: tip
}
