import QtQuick

// The keyboard focus, drawn the same way on every control, in the boxes as on the pages: one
// frame, on the one control that has the focus. The style marked the focus with the frame it
// gives a highlighted button, so a focused button beside the highlighted default, or the default
// itself with the focus, could not be told apart. Where the mouse put the focus, no frame is drawn.
Item {
    id: mark
    // The control with the keyboard focus; none while the focus is on a box's content or frame, a
    // list or nothing, or came from a click.
    readonly property Item control: {
        var item = Window.activeFocusItem
        if (!item || !item.activeFocusOnTab || item.focusReason === undefined
                || item.focusReason === Qt.MouseFocusReason)
            return null
        return item
    }

    Rectangle {
        objectName: "focusMark"
        // Inside the control, so a list that clips it shows it whole, and over the style's own
        // focus frame, so that one is not seen as a second mark.
        parent: mark.control ? mark.control : mark
        visible: mark.control !== null
        anchors.fill: parent
        z: 1000
        color: "transparent"
        radius: 2
        border.width: 2
        border.color: "#f0b400"
        // Dark within, so the frame stands out on a light button as on the dark boxes.
        Rectangle {
            anchors.fill: parent
            anchors.margins: 2
            color: "transparent"
            border.width: 1
            border.color: "#20242b"
        }
    }
}
