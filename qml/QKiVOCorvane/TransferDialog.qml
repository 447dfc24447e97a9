import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The transfer to the car: the drive or folder to write to, and how to treat what is there.
Popup {
    id: dialog
    property var app

    palette.windowText: "white"
    width: Math.min(parent.width - 80, 640)
    modal: true
    closePolicy: Popup.NoAutoClose
    padding: 24
    background: Rectangle { color: "#2f353e"; radius: 6 }
    contentItem: ColumnLayout {
        spacing: 12
        PageTitle { text: TransferandSync_title; font.pixelSize: 22 }
        BodyText { Layout.fillWidth: true; text: TransferandSync_choose }
        BodyText {
            Layout.fillWidth: true
            visible: drivedetails.length === 0
            text: TransferandSync_nodrive
        }
        ButtonGroup { id: driveGroup }
        Repeater {
            objectName: "driveRows"
            model: drivedetails
            RadioButton {
                Layout.fillWidth: true
                ButtonGroup.group: driveGroup
                font.pixelSize: 15
                checked: dialog.app.selectedDrive === modelData.driveletter
                onClicked: dialog.app.selectedDrive = modelData.driveletter
                text: modelData.isSystem === 1
                      ? TransferandSync_folder + ": " + modelData.driveletter
                      : modelData.driveletter + "   " + modelData.filesystem + " (" + modelData.drivename + ")   "
                        + modelData.freespace + " " + TransferandSync_free + " " + modelData.totalspace + " GB"
            }
        }
        Button {
            objectName: "openDirectoryButton"
            text: TransferandSync_opendirectory
            onClicked: dialog.app.transferandSyncDialog()
        }
        CheckBox {
            id: formatBox
            objectName: "formatBox"
            text: TransferandSync_format
            enabled: {
                for (var i = 0; i < drivedetails.length; ++i)
                    if (drivedetails[i].driveletter === dialog.app.selectedDrive)
                        return drivedetails[i].isSystem === 0
                return false
            }
        }
        CheckBox { id: overwriteAll; objectName: "overwriteAll"; text: TransferandSync_overwriteall }
        CheckBox { id: overwriteNewer; objectName: "overwriteNewer"; text: TransferandSync_overwritenewer }
        CheckBox { id: overwriteQuality; objectName: "overwriteQuality"; text: TransferandSync_overwritequality }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Button {
                text: Common_txtcancel
                onClicked: {
                    dialog.close()
                    dialog.app.transferTomedia(0)
                }
            }
            Button {
                objectName: "startTransferButton"
                text: TransferandSync_continue
                highlighted: enabled
                enabled: dialog.app.selectedDrive !== ""
                onClicked: {
                    dialog.close()
                    dialog.app.continueDrive(dialog.app.selectedDrive, formatBox.enabled && formatBox.checked ? 1 : 0,
                                             overwriteAll.checked ? 1 : 0, overwriteNewer.checked ? 1 : 0,
                                             overwriteQuality.checked ? 1 : 0)
                }
            }
        }
    }
}
