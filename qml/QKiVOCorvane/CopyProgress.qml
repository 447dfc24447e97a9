import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The add in progress: the copy into the library, the audio converted for the car on the way,
// and the video optimiser with its file, progress and time left. One Cancel stops them all;
// Escape is that Cancel.
ModalBox {
    id: box
    property int done: 0
    property int total: 0
    property int converted: 0
    // The audio conversion ahead of the copy: done, total, file, secondsLeft, running.
    property var conversion: ({"running": false})
    readonly property bool convertingAudio: !!conversion && conversion.running && !optimising
    signal cancel()
    // The program's model of the optimiser; gone for a moment while the program closes.
    readonly property var video: typeof videoOptimisation !== "undefined" ? videoOptimisation : null
    readonly property bool optimising: !!video && video.running

    width: 420
    cancelButton: cancelCopy
    padding: 24
    background: Rectangle { color: "#2f353e"; radius: 6 }
    contentItem: ColumnLayout {
        spacing: 14
        Label {
            visible: !box.optimising && !box.convertingAudio
            color: "white"; font.pixelSize: 16
            text: Copy_txtadding + " " + box.done + " / " + box.total
        }
        ProgressBar {
            visible: !box.optimising && !box.convertingAudio
            Layout.fillWidth: true; from: 0; to: Math.max(1, box.total); value: box.done
        }
        // The audio the car cannot play, converted before it is copied in.
        Label {
            objectName: "audioProgress"
            visible: box.convertingAudio
            color: "white"; font.pixelSize: 16
            text: box.convertingAudio ? Copy_txtconvertingaudio + " " + box.conversion.done + " / "
                                        + box.conversion.total : ""
        }
        Label {
            objectName: "audioFile"
            visible: box.convertingAudio
            Layout.fillWidth: true; elide: Text.ElideMiddle
            color: "#c8ccd2"; font.pixelSize: 14
            text: box.convertingAudio ? box.conversion.file : ""
        }
        ProgressBar {
            visible: box.convertingAudio
            Layout.fillWidth: true; from: 0; to: box.convertingAudio ? Math.max(1, box.conversion.total) : 1
            value: box.convertingAudio ? box.conversion.done : 0
        }
        Label {
            visible: box.convertingAudio && box.conversion.secondsLeft >= 0
            color: "#c8ccd2"; font.pixelSize: 14
            text: box.convertingAudio ? Copy_txttimeleft + " " + Math.floor(box.conversion.secondsLeft / 60) + ":"
                                        + ("0" + box.conversion.secondsLeft % 60).slice(-2) : ""
        }
        Label {
            visible: box.converted > 0 && !box.optimising
            color: "#c8ccd2"; font.pixelSize: 14
            text: Copy_txtconverting + " " + box.converted
        }
        // The video optimiser: the file in hand, how far it is, and the time left for all.
        Label {
            visible: box.optimising
            color: "white"; font.pixelSize: 16
            text: box.optimising ? Copy_txtoptimising + " " + (box.video.done + 1) + " / " + box.video.total : ""
        }
        Label {
            objectName: "videoFile"
            visible: box.optimising
            Layout.fillWidth: true; elide: Text.ElideMiddle
            color: "#c8ccd2"; font.pixelSize: 14
            text: box.optimising ? box.video.fileName + " — " + box.video.progress + " %" : ""
        }
        ProgressBar {
            visible: box.optimising
            Layout.fillWidth: true; from: 0; to: 100; value: box.optimising ? box.video.progress : 0
        }
        Label {
            visible: box.optimising && box.video.secondsLeft >= 0
            color: "#c8ccd2"; font.pixelSize: 14
            text: box.optimising ? Copy_txttimeleft + " " + Math.floor(box.video.secondsLeft / 60) + ":"
                                   + ("0" + box.video.secondsLeft % 60).slice(-2) : ""
        }
        Button {
            id: cancelCopy
            Layout.alignment: Qt.AlignHCenter
            text: Common_txtcancel
            onClicked: box.cancel()
        }
    }
}
