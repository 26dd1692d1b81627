import QtQuick

// The outline of the control that has keyboard focus, for backgrounds drawn by hand.
Rectangle {
    required property Item control

    color: "transparent"
    border.width: 2
    border.color: control.visualFocus ? Style.accent : "transparent"
}
