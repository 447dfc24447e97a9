import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import "openboxes.js" as OpenBoxes

// A box over the window that owns the keyboard while it is up: the focus comes into it when it
// opens and goes back where it was when it closes, Tab stays among its own controls, Return
// presses its default button and Escape its cancel. No key reaches the page it covers.
Popup {
    id: box
    // What Return presses while no push button of the box has the focus; none for a box without
    // a default.
    property T.AbstractButton defaultButton: null
    // What Escape presses; none where the box has no cancel (a running transfer keeps its Stop).
    property T.AbstractButton cancelButton: null
    // Where the focus was when the box opened, and how it came there: it goes back the same way,
    // so a mark that showed it shows it again.
    property Item focusBefore: null
    property int focusBeforeReason: Qt.OtherFocusReason

    modal: true
    focus: true
    // Escape is the cancel button's: a bare close would skip what Cancel tells the program.
    closePolicy: Popup.NoAutoClose

    // As in any dialog, a push button with the focus takes Return for itself.
    function pressReturn() {
        var focused = contentItem.Window.activeFocusItem
        var button = focused instanceof T.AbstractButton && !focused.checkable ? focused : defaultButton
        if (button && button.enabled)
            button.clicked()
    }
    function pressEscape() {
        if (cancelButton && cancelButton.enabled)
            cancelButton.clicked()
    }

    onAboutToShow: {
        focusBefore = contentItem.Window.activeFocusItem
        focusBeforeReason = focusBefore && focusBefore.focusReason !== undefined ? focusBefore.focusReason
                                                                                 : Qt.OtherFocusReason
        // The box's own keys sit on its content: a fresh start there, not on the button last used.
        contentItem.focus = true
        OpenBoxes.opened(box)
    }
    onClosed: OpenBoxes.closed(box)

    // Only keys the box's controls leave come here. Held by a property, not declared as a child:
    // a popup's children go into its content item, and while the box is being built that is a
    // stand-in, which the box's own content then replaces. The handler stayed with the stand-in,
    // on its keys or on none, and missed every key of some boxes.
    readonly property Connections keyHandler: Connections {
        target: box.contentItem ? box.contentItem.Keys : null
        function onPressed(event) {
            if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter)
                box.pressReturn()
            else if (event.key === Qt.Key_Escape)
                box.pressEscape()
            else
                return
            event.accepted = true
        }
    }
}
