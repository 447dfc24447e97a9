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
    // Esc closes it as Cancel does; a click beside it does not. No button is marked the default.
    ModalBox {
        id: chooser
        objectName: "advancedSettings"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 640)
        height: Math.min(parent.height - 80, 560)
        cancelButton: chooserCancel
        onClosed: if (!chooser.starting) panel.app.sgPauseRepair(panel.paused)
        property bool starting: false
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
        // What a row lacks, as the library shows it: an empty text, the program's own stand-in
        // ("Unknown Album", "Track 03"), or the no-artwork picture.
        function lacks(row) {
            var missing = []
            var blank = function(text) { return !text || /^\s*unknown(\s+(album|artist|codec|comment|filename|genre|path|song|title))?\s*$/i.test(text) }
            if (blank(row.trackname) || /^\s*(audio\s*)?track[\s_#.-]*\d*\s*$/i.test(row.trackname))
                missing.push(Repair_txtlacktitle)
            if (blank(row.artistname))
                missing.push(Repair_txtlackartist)
            if (blank(row.albumname))
                missing.push(Repair_txtlackalbum)
            if (!row.cover || row.cover.indexOf("no_artwork") >= 0)
                missing.push(Repair_txtlackcover)
            return missing
        }
        function selectAll() {
            var next = ({})
            for (var i = 0; i < trackModel.length; ++i)
                next[trackModel[i].trackid] = true
            chosen = next
            count = Object.keys(next).length
        }
        onOpened: {
            // Ticked from the start: every track that lacks something.
            var next = ({})
            for (var i = 0; i < trackModel.length; ++i)
                if (lacks(trackModel[i]).length > 0)
                    next[trackModel[i].trackid] = true
            chosen = next
            count = Object.keys(next).length
            starting = false
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
                    readonly property var missing: chooser.lacks(modelData)
                    width: list.width
                    checked: chooser.chosen[modelData.trackid] === true
                    text: modelData.trackname + " — " + modelData.artistname + " — " + modelData.albumname
                        + (missing.length > 0 ? "   (" + Repair_txtlacks + ": " + missing.join(", ") + ")" : "")
                    palette.windowText: "white"
                    onToggled: chooser.choose(modelData.trackid, checked)
                }
            }
            RowLayout {
                Layout.fillWidth: true
                Button {
                    objectName: "selectAllButton"
                    text: Repair_txtselectall
                    onClicked: chooser.selectAll()
                }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "repairChosenButton"
                    text: Repair_txtstart + " (" + chooser.count + ")"
                    enabled: chooser.count > 0
                    onClicked: {
                        chooser.starting = true
                        panel.app.sgCollectMediaToUpdate(Object.keys(chooser.chosen).map(Number))
                        chooser.close()
                    }
                }
                // Closing without a choice lets the waiting run go on (or stay paused): it is not
                // a stop.
                Button {
                    id: chooserCancel
                    objectName: "repairCancelButton"
                    text: Common_txtcancel
                    onClicked: chooser.close()
                }
            }
        }
    }
}
