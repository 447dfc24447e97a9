import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One row of a list: an optional check box, a picture, two lines of text and a detail on the
// right. A click anywhere on a row with a check box toggles it, unless the row also opens (a
// playlist): then the box ticks and the rest of the row opens. On any other row a click opens it.
Rectangle {
    id: row
    property string title
    property string subtitle
    property string detail
    property string image
    // Whether the list shows pictures; a row without one gets the placeholder, so its text lines
    // up with the others.
    property bool showImage: true
    property string mark  // a short tag on the right, such as "In library"
    // The object whose `selected` the check box shows and sets; none for a row without one.
    property var item: null
    readonly property bool selectable: !!item
    property bool opensOnClick: false
    signal opened()
    // The user changed the tick; `checked` is its new state.
    signal ticked(bool checked)

    width: ListView.view ? ListView.view.width : 400
    height: 52
    color: hover.hovered ? "#323843" : "#2a2f37"

    HoverHandler { id: hover }
    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            if (row.selectable && !row.opensOnClick) {
                row.item.selected = !row.item.selected
                row.ticked(row.item.selected)
            } else {
                row.opened()
            }
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 12
        spacing: 10
        CheckBox {
            visible: row.selectable
            objectName: "rowTick"
            checked: row.selectable && row.item.selected
            onToggled: {
                row.item.selected = checked
                row.ticked(checked)
            }
        }
        Image {
            Layout.preferredWidth: 40
            Layout.preferredHeight: 40
            visible: row.showImage
            source: {
                if (!row.showImage)
                    return ""
                if (row.image === "" || row.image.indexOf("no_artwork") >= 0)
                    return "qrc:///resources/photos/no_artwork.png"
                return row.image.indexOf(":") > 1 ? row.image : "file://" + row.image
            }
            sourceSize.width: 80
            sourceSize.height: 80
            fillMode: Image.PreserveAspectFit
            asynchronous: true
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 0
            Label { text: row.title; color: "white"; font.pixelSize: 15; elide: Text.ElideRight; Layout.fillWidth: true }
            Label { text: row.subtitle; color: "#9aa3ad"; font.pixelSize: 12; elide: Text.ElideRight; Layout.fillWidth: true }
        }
        Label {
            visible: row.mark !== ""
            text: row.mark
            color: "#20242b"
            font.pixelSize: 11
            leftPadding: 6; rightPadding: 6; topPadding: 2; bottomPadding: 2
            background: Rectangle { color: "#f0b400"; radius: 3 }
        }
        Label { text: row.detail; color: "#9aa3ad"; font.pixelSize: row.detail === "›" ? 24 : 12 }
    }
}
