import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Start: the sources media is added from.
ColumnLayout {
    id: page
    property var app
    spacing: 18

    PageTitle { text: page.app.libraryHasMedia ? StartPage_txtaddtitle : StartPage_txttitle }
    BodyText { Layout.fillWidth: true; text: StartPage_txtadd }
    GridLayout {
        columns: 3
        columnSpacing: 12
        rowSpacing: 12
        Repeater {
            model: [["mymusic", Source_txtmusic], ["myvideos", Source_txtvideos],
                    ["mypictures", Source_txtpictures], ["browse", Source_txtbrowse],
                    ["itunes", Source_txtitunes]]
            Button {
                objectName: "source_" + modelData[0]
                Layout.preferredWidth: 220
                Layout.preferredHeight: 64
                text: modelData[1]
                onClicked: page.app.sgSearchInMediaSource(modelData[0])
            }
        }
    }
    Item { Layout.fillHeight: true }
}
