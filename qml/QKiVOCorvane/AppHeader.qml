import QtQuick
import QtQuick.Controls

// The window's header: the logo on the left; the vehicle and the page buttons on the right.
// Anchors and a Row place them, which take their places again at every change of size or of
// what is shown. A row layout nested in the page's layout kept the places of its first arrangement,
// made before the window had its size, when the page changed and the window's size came before
// the next arrangement: everything lay on the logo until the window was resized.
Item {
    id: header
    property var app
    implicitHeight: Math.max(logo.implicitHeight, buttons.implicitHeight)

    Label {
        id: logo
        objectName: "headerLogo"
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        text: "KiVO"
        color: "#f0b400"
        font.pixelSize: 32
        font.bold: true
    }

    Row {
        id: buttons
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        spacing: 8
        visible: header.app.currentPage !== "welcome"

        Label {
            objectName: "vehicleLabel"
            anchors.verticalCenter: parent.verticalCenter
            // Shortened rather than pushed over the logo when the window is narrow.
            width: Math.max(0, Math.min(implicitWidth, header.width - logo.implicitWidth - 24
                                        - addButton.width - libraryButton.width - changeButton.width
                                        - 3 * buttons.spacing))
            elide: Text.ElideRight
            text: header.app.vehicleName + (header.app.modelYear !== "" ? " (" + header.app.modelYear + ")" : "")
            color: "#d0d4da"
            font.pixelSize: 16
        }
        Button {
            id: addButton
            objectName: "addMediaButton"
            text: Header_txtaddmedia
            highlighted: header.app.currentPage === "start" || header.app.currentPage === "browser"
            onClicked: header.app.currentPage = "start"
        }
        Button {
            id: libraryButton
            objectName: "libraryButton"
            text: MediaLibrary_txttitle
            highlighted: header.app.currentPage === "library"
            onClicked: header.app.currentPage = "library"
        }
        Button {
            id: changeButton
            objectName: "changeVehicleButton"
            text: ChangeVehicle_txt
            onClicked: {
                header.app.previousPage = header.app.currentPage
                header.app.currentPage = "welcome"
            }
        }
    }
}
