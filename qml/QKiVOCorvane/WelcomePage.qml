import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Welcome: the vehicle and model year decide what the car plays.
ColumnLayout {
    id: page
    property var app
    spacing: 18

    PageTitle { text: MediaLibrary_txtwelcometitle }
    BodyText { Layout.fillWidth: true; text: MediaLibrary_txtwelcome }
    BodyText { Layout.fillWidth: true; text: MediaLibrary_txtwelcome2 }
    GridLayout {
        columns: 2
        columnSpacing: 12
        BodyText { text: Welcome_txtvehicle }
        ComboBox {
            id: vehicleBox
            objectName: "vehicleBox"
            Layout.preferredWidth: 320
            model: vehicleList
            textRole: "name"
            currentIndex: {
                for (var i = 0; i < vehicleList.length; ++i)
                    if (vehicleList[i].name === page.app.vehicleName)
                        return i
                return -1
            }
            displayText: currentIndex < 0 ? Welcome_txtselect : currentText
        }
        BodyText { text: Welcome_txtmodelyear }
        ComboBox {
            id: yearBox
            objectName: "yearBox"
            Layout.preferredWidth: 320
            model: {
                if (vehicleBox.currentIndex < 0)
                    return []
                var v = vehicleList[vehicleBox.currentIndex]
                var years = []
                for (var y = v.lastYear; y >= v.firstYear; --y)
                    years.push(String(y))
                return years
            }
            currentIndex: model.indexOf(page.app.modelYear)
            displayText: currentIndex < 0 ? Welcome_txtselect : currentText
        }
    }
    RowLayout {
        spacing: 8
        // Back to where "Change vehicle" was pressed, the vehicle as it was.
        Button {
            objectName: "welcomeBackButton"
            visible: page.app.previousPage !== "" && page.app.vehicleName !== "" && page.app.vehicleName !== "Select"
            text: Common_txtback
            onClicked: page.app.currentPage = page.app.previousPage
        }
        Button {
            objectName: "continueButton"
            text: Welcome_txtcontinue
            highlighted: enabled
            enabled: vehicleBox.currentIndex >= 0 && yearBox.currentIndex >= 0
            onClicked: {
                page.app.sgVehicleChosen(String(vehicleBox.currentIndex), vehicleBox.currentText,
                                         yearBox.currentText, yearBox.currentIndex)
                page.app.sgCheckMediaLibrary(0)
            }
        }
    }
    Item { Layout.fillHeight: true }
}
