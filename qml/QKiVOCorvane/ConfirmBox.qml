import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Asks before something that cannot be undone; `accepted` carries what it is about. Return
// answers with the highlighted button, as the box shows it; Escape is Cancel.
ModalBox {
    id: box
    property alias text: question.text
    property string acceptText
    property var subject
    signal accepted(var subject)

    width: Math.min(parent.width - 80, 520)
    closePolicy: Popup.CloseOnPressOutside
    defaultButton: acceptButton
    cancelButton: cancel
    padding: 20
    background: Rectangle { color: "#2f353e"; radius: 6; border.color: "#f0b400" }
    contentItem: ColumnLayout {
        spacing: 16
        Label {
            id: question
            objectName: "confirmText"
            Layout.fillWidth: true
            color: "white"
            font.pixelSize: 16
            wrapMode: Text.WordWrap
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Button { id: cancel; objectName: "confirmCancel"; text: Common_txtcancel; onClicked: box.close() }
            Button {
                id: acceptButton
                objectName: "confirmButton"
                text: box.acceptText
                highlighted: true
                onClicked: {
                    box.close()
                    box.accepted(box.subject)
                }
            }
        }
    }
}
