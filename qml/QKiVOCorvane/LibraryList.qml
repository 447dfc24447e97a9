import QtQuick
import QtQuick.Controls

// A scrolling list that says so when it has nothing to show.
ListView {
    id: list
    property string emptyText
    clip: true
    spacing: 2
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    Label {
        objectName: "emptyText"
        anchors.centerIn: parent
        width: Math.min(parent.width - 40, 640)
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        visible: list.count === 0 && text !== ""
        text: list.emptyText
        color: "#9aa3ad"
        font.pixelSize: 16
    }
}
