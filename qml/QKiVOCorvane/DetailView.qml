import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The tracks of the artist, album or playlist the user opened.
ColumnLayout {
    id: view
    property var app
    spacing: 8

    RowLayout {
        Layout.fillWidth: true
        spacing: 12
        Button {
            objectName: "detailBackButton"
            text: Common_txtback
            onClicked: view.app.closeDetail()
        }
        Label {
            objectName: "detailTitle"
            Layout.fillWidth: true
            elide: Text.ElideRight
            text: view.app.detailTitle
            color: "white"
            font.pixelSize: 20
            font.bold: true
        }
        Label {
            color: "#9aa3ad"
            font.pixelSize: 14
            text: view.app.trackCountText(detailModel.length)
        }
    }
    LibraryList {
        objectName: "detailList"
        Layout.fillWidth: true
        Layout.fillHeight: true
        model: detailModel
        emptyText: MediaLibrary_txtnoresults
        delegate: ListRow {
            item: modelData.row
            onTicked: view.app.sgSelectionChanged()
            title: (modelData.tracknumber > 0 && view.app.detailKind === "album" ? modelData.tracknumber + ". " : "")
                   + modelData.trackname
            subtitle: modelData.subtitle
            detail: modelData.duration
            image: modelData.cover
        }
    }
}
