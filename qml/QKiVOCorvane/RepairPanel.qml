import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The repair run under the library's title: how far it is, pause and stop while it runs, and the
// way to choose tracks to repair.
RowLayout {
    id: panel
    property var app
    property bool paused: false
    readonly property bool running: app.repairTotal > 0
    spacing: 10
    onRunningChanged: if (!running) paused = false

    Label {
        visible: panel.running
        color: "#d0d4da"
        text: MediaLibrary_txtrepairing + " " + panel.app.repairDone + " / " + panel.app.repairTotal
    }
    ProgressBar {
        visible: panel.running
        Layout.preferredWidth: 160
        from: 0; to: Math.max(1, panel.app.repairTotal); value: panel.app.repairDone
    }
    Button {
        objectName: "pauseRepairButton"
        visible: panel.running
        text: panel.paused ? Repair_txtresume : Repair_txtpause
        onClicked: {
            panel.paused = !panel.paused
            panel.app.sgPauseRepair(panel.paused)
        }
    }
    Button {
        objectName: "stopRepairButton"
        visible: panel.running
        text: Repair_txtstop
        onClicked: panel.app.sgCancelOptimization()
    }
    Item { Layout.fillWidth: true }
    Button {
        objectName: "advancedSettingsButton"
        text: Repair_txtadvanced
        enabled: trackModel.length > 0
        onClicked: chooser.open()
    }

    // The advanced settings: the library's tracks to repair. The run waits while it is open.
    Popup {
        id: chooser
        objectName: "advancedSettings"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 640)
        height: Math.min(parent.height - 80, 560)
        modal: true
        closePolicy: Popup.NoAutoClose
        padding: 20
        background: Rectangle { color: "#2f353e"; radius: 6 }
        property var chosen: ({})
        property int count: 0
        function choose(id, on) {
            var next = chosen
            if (on)
                next[id] = true
            else
                delete next[id]
            chosen = next
            count = Object.keys(next).length
        }
        onOpened: {
            chosen = ({})
            count = 0
            panel.app.sgPopulateAdvancedSettings()
        }
        contentItem: ColumnLayout {
            spacing: 12
            Label { color: "white"; font.pixelSize: 20; text: Repair_txttitle }
            Label {
                Layout.fillWidth: true
                color: "#d0d4da"; wrapMode: Text.WordWrap
                text: Repair_txtchoose
            }
            ListView {
                id: list
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                model: trackModel
                delegate: CheckBox {
                    width: list.width
                    checked: chooser.chosen[modelData.trackid] === true
                    text: modelData.trackname + " — " + modelData.artistname + " — " + modelData.albumname
                    palette.windowText: "white"
                    onToggled: chooser.choose(modelData.trackid, checked)
                }
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                Button {
                    objectName: "repairChosenButton"
                    text: Repair_txtstart + " (" + chooser.count + ")"
                    enabled: chooser.count > 0
                    onClicked: {
                        panel.app.sgCollectMediaToUpdate(Object.keys(chooser.chosen).map(Number))
                        chooser.close()
                    }
                }
                Button {
                    text: Common_txtcancel
                    onClicked: {
                        panel.app.sgCancelOptimization()
                        chooser.close()
                    }
                }
            }
        }
    }
}
