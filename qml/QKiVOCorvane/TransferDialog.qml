import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The transfer to the car: the drive or folder to write to, and how to treat what is there.
// Return starts the transfer once a target is chosen; Escape is Cancel.
ModalBox {
    id: dialog
    property var app
    // The folder chooser has closed; the next listing that holds what it gave takes it.
    property bool folderAsked: false
    // What the chooser gave, as the program tells it: a folder, or "" when it was cancelled.
    property string folderAnswer: ""
    // The targets listed so far while the dialog is open, to tell which one is new; the rows. Changed
    // only when the targets are: the program lists them anew at each poll, and rows made anew each
    // second took the keyboard focus away from the one that had it.
    property var targetPaths: []

    palette.windowText: "white"
    width: Math.min(parent.width - 80, 640)
    defaultButton: startButton
    cancelButton: cancel
    padding: 24
    background: Rectangle { color: "#2f353e"; radius: 6 }
    onOpened: {
        targetPaths = []
        folderAsked = false
        takeNewTargets()
    }

    function entryOf(path) {
        for (var i = 0; i < drivedetails.length; ++i)
            if (drivedetails[i].driveletter === path)
                return drivedetails[i]
        return null
    }
    // A folder just chosen is taken at once, and so is a new stick when it is the only target:
    // the person has said where to write, there is nothing left to pick.
    function takeNewTargets() {
        if (!dialog.opened)
            return
        var paths = []
        var chosen = ""
        for (var i = 0; i < drivedetails.length; ++i) {
            var entry = drivedetails[i]
            paths.push(entry.driveletter)
            if (targetPaths.indexOf(entry.driveletter) < 0 && entry.isSystem === 1)
                chosen = entry.driveletter
        }
        // A folder chosen again, listed already, is chosen all the same.
        var folderChosen = folderAsked && folderAnswer !== "" && paths.indexOf(folderAnswer) >= 0
        if (folderChosen)
            chosen = folderAnswer
        if (chosen === "" && drivedetails.length === 1 && targetPaths.indexOf(paths[0]) < 0)
            chosen = paths[0]
        if (chosen !== "")
            app.selectedDrive = chosen
        else if (app.selectedDrive !== "" && paths.indexOf(app.selectedDrive) < 0)
            app.selectedDrive = ""
        if (paths.join("\n") !== targetPaths.join("\n"))
            targetPaths = paths
        // A folder just chosen is what Return should now transfer to; after a cancel, the focus
        // stays on Open Directory. Unless the person has moved it meanwhile.
        if (folderAsked && (folderAnswer === "" || folderChosen)) {
            folderAsked = false
            if (folderChosen && openDirectory.focus && startButton.enabled)
                startButton.forceActiveFocus(Qt.TabFocusReason)
        }
    }
    // The program sets the list anew at each poll.
    property var targets: drivedetails
    onTargetsChanged: takeNewTargets()
    readonly property var selectedEntry: {
        drivedetails
        return entryOf(app.selectedDrive)
    }
    readonly property bool formatPossible: !!selectedEntry && selectedEntry.isSystem === 0

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
            model: dialog.targetPaths
            RadioButton {
                // The target as the last poll saw it.
                readonly property var entry: {
                    drivedetails
                    return dialog.entryOf(modelData)
                }
                Layout.fillWidth: true
                ButtonGroup.group: driveGroup
                font.pixelSize: 15
                checked: dialog.app.selectedDrive === modelData
                onClicked: dialog.app.selectedDrive = modelData
                text: !entry ? modelData
                      : entry.isSystem === 1
                      ? TransferandSync_folder + ": " + entry.driveletter
                      : entry.driveletter + "   " + entry.filesystem + " (" + entry.drivename + ")   "
                        + entry.freespace + " " + TransferandSync_free + " " + entry.totalspace + " GB"
            }
        }
        Button {
            id: openDirectory
            objectName: "openDirectoryButton"
            text: TransferandSync_opendirectory
            // The chooser is a window of its own and returns only once it has closed. The focus is
            // then shown here, as after a key, even where a click pressed the button: the person
            // must see where Return goes now.
            onClicked: {
                dialog.folderAnswer = ""
                dialog.app.transferandSyncDialog()
                dialog.folderAsked = dialog.opened
                openDirectory.focusReason = Qt.TabFocusReason
                openDirectory.forceActiveFocus(Qt.TabFocusReason)
            }
        }
        CheckBox {
            id: formatBox
            objectName: "formatBox"
            text: TransferandSync_format
            enabled: dialog.formatPossible
        }
        // Why the format choice is grey.
        Label {
            objectName: "formatReason"
            visible: !dialog.formatPossible
            Layout.leftMargin: 36
            color: "#c8ccd2"
            font.pixelSize: 13
            text: dialog.selectedEntry ? TransferandSync_noformatfolder : TransferandSync_noformatdrive
        }
        // What happens to a file that is on the drive already: one answer of four.
        ButtonGroup { id: overwriteGroup }
        RadioButton {
            id: overwriteNever; objectName: "overwriteNever"; checked: true
            ButtonGroup.group: overwriteGroup; text: TransferandSync_overwritenever
        }
        RadioButton {
            id: overwriteAll; objectName: "overwriteAll"
            ButtonGroup.group: overwriteGroup; text: TransferandSync_overwriteall
        }
        RadioButton {
            id: overwriteNewer; objectName: "overwriteNewer"
            ButtonGroup.group: overwriteGroup; text: TransferandSync_overwritenewer
        }
        RadioButton {
            id: overwriteQuality; objectName: "overwriteQuality"
            ButtonGroup.group: overwriteGroup; text: TransferandSync_overwritequality
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Button {
                id: cancel
                objectName: "transferCancelButton"
                text: Common_txtcancel
                onClicked: {
                    dialog.close()
                    dialog.app.transferTomedia(0)
                }
            }
            Button {
                id: startButton
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
