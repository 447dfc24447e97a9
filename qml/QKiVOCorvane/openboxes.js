.pragma library

// The modal boxes up, oldest first. One box may open over another and either may close first:
// whichever closes, the focus must end where it was before the first of them opened.
var boxes = []

function holds(box, item) {
    for (var at = item; at; at = at.parent)
        if (at === box.contentItem.parent)
            return true
    return false
}

function opened(box) {
    if (boxes.indexOf(box) < 0)
        boxes.push(box)
}

function closed(box) {
    var at = boxes.indexOf(box)
    if (at >= 0)
        boxes.splice(at, 1)
    for (var i = 0; i < boxes.length; ++i)
        if (holds(box, boxes[i].focusBefore)) {
            boxes[i].focusBefore = box.focusBefore
            boxes[i].focusBeforeReason = box.focusBeforeReason
        }
    var back = box.focusBefore
    // The newest box still up took the keyboard when it opened and keeps it: on the control it
    // had when this one opened over it, else where the box itself puts it.
    if (boxes.length > 0) {
        var top = boxes[boxes.length - 1]
        if (back && holds(top, back) && back.visible && back.enabled)
            back.forceActiveFocus(box.focusBeforeReason)
        else
            top.forceActiveFocus()
        return
    }
    if (back && back.visible && back.enabled)
        back.forceActiveFocus(box.focusBeforeReason)
}
