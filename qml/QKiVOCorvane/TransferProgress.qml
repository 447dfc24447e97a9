import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The transfer under way: files done of all, the file in hand, and Stop. Only Stop itself stops
// it; Escape does not.
ModalBox {
    id: box
    property var app

    width: 460
    padding: 24
    background: Rectangle { color: "#2f353e"; radius: 6 }
    contentItem: ColumnLayout {
        spacing: 14
        Label {
            objectName: "transferCount"
            color: "white"
            font.pixelSize: 16
            text: TransferandSync_progress + " " + box.app.transferCount + " / " + box.app.transferTotal
        }
        Label {
            Layout.fillWidth: true
            color: "#9aa3ad"
            font.pixelSize: 13
            elide: Text.ElideMiddle
            text: box.app.transferFile
        }
        ProgressBar { Layout.fillWidth: true; from: 0; to: Math.max(1, box.app.transferTotal); value: box.app.transferCount }
        Button {
            objectName: "stopTransferButton"
            Layout.alignment: Qt.AlignHCenter
            text: TransferandSync_stop
            onClicked: box.app.sgProgressStoped(1)
        }
    }
}
