import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The media browser: what a source holds, to pick from.
ColumnLayout {
    id: page
    property var app
    spacing: 8

    PageTitle { text: Browser_txttitle }
    // What was left out, or that the search was cancelled; when nothing was found, the list says why.
    BodyText {
        objectName: "browserNote"
        Layout.fillWidth: true
        visible: browserModel.length > 0 && page.app.browserNote !== ""
        text: page.app.browserNote
        color: "#f0c860"
        font.pixelSize: 14
    }
    RowLayout {
        Layout.fillWidth: true
        Button {
            objectName: "browserSelectAll"
            text: Browser_txtselectall
            enabled: browserModel.length > 0
            onClicked: page.app.sgSelectAllBrowserItems(true)
        }
        Button {
            objectName: "browserSelectNone"
            text: Browser_txtselectnone
            enabled: browserModel.length > 0
            onClicked: page.app.sgSelectAllBrowserItems(false)
        }
        Item { Layout.fillWidth: true }
        Label { color: "#d0d4da"; text: browserModel.length + " " + Browser_txtfiles }
        Button {
            objectName: "addSelectedButton"
            text: Browser_txtaddselected
            enabled: browserModel.length > 0
            onClicked: page.app.sgAddToLibrary(false)
        }
        Button {
            objectName: "addAllButton"
            text: Browser_txtaddall
            highlighted: enabled
            enabled: browserModel.length > 0
            onClicked: page.app.sgAddToLibrary(true)
        }
    }
    LibraryList {
        objectName: "browserList"
        Layout.fillWidth: true
        Layout.fillHeight: true
        model: browserModel
        emptyText: page.app.browserNote !== "" ? page.app.browserNote : Browser_txtempty
        delegate: ListRow {
            item: modelData
            title: modelData.trackname
            subtitle: modelData.isVideo ? modelData.subtitle : modelData.artistname + " – " + modelData.albumname
            detail: modelData.duration
            image: modelData.cover
            mark: modelData.inLibrary ? Browser_txtinlibrary : ""
        }
    }
}
