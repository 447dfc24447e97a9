import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The media library: its views by kind, the search, and the open artist, album or playlist.
ColumnLayout {
    id: page
    property var app
    spacing: 8

    readonly property var tabNames: [MediaLibrary_txtartists, MediaLibrary_txtalbums, MediaLibrary_txttracks,
        MediaLibrary_txtplaylists, MediaLibrary_txtpodcasts, MediaLibrary_txtaudiobooks, MediaLibrary_txtvideos]
    readonly property bool detailOpen: app.detailKind !== ""
    // The tabs whose rows are tracks with check boxes: tracks, podcasts, audio books, videos.
    function tickable(tab) { return tab === 2 || tab >= 4 }
    function tabList(tab) {
        return [artistModel, albumModel, trackModel, playlistModel, podcastModel, audiobookModel, videoModel][tab]
    }
    readonly property bool canSelect: detailOpen ? detailModel.length > 0 : tabList(tabs.currentIndex).length > 0

    // Ticks or clears the rows of the view in front: the open artist, album or playlist, the
    // playlists of their tab, the tracks behind the artists or albums shown, or the tab's rows.
    function selectShown(selected) {
        if (detailOpen) {
            for (var i = 0; i < detailModel.length; ++i)
                if (detailModel[i].row)
                    detailModel[i].row.selected = selected
        } else if (tabs.currentIndex === 3) {
            for (var k = 0; k < playlistModel.length; ++k)
                app.sgSelectPlaylist(playlistModel[k].name, selected)
            return
        } else {
            var rows = tabList(tickable(tabs.currentIndex) ? tabs.currentIndex : 2)
            for (var j = 0; j < rows.length; ++j)
                rows[j].selected = selected
        }
        app.sgSelectionChanged()
    }
    function emptyText(tab) {
        if (app.librarySearchText !== "")
            return MediaLibrary_txtnoresults
        return MediaLibrary_txtemptytab.arg(tabNames[tab].toLowerCase())
    }

    RowLayout {
        Layout.fillWidth: true
        PageTitle { text: MediaLibrary_txttitle }
        // Kept in its place while hidden, so the row does not shift when loading ends.
        BusyIndicator {
            objectName: "libraryBusy"
            opacity: page.app.libraryLoading ? 1 : 0
            running: page.app.libraryLoading
            palette.text: "#f0b400"
            Layout.preferredHeight: 32
            Layout.preferredWidth: 32
        }
        Item { Layout.fillWidth: true }
        TextField {
            id: librarySearch
            objectName: "librarySearch"
            Layout.fillWidth: true
            Layout.minimumWidth: 120
            Layout.maximumWidth: 260
            placeholderText: MediaLibrary_txtsearch
            // Every key would rebuild the views; wait for a pause in typing.
            onTextChanged: searchDelay.restart()
            Keys.onEscapePressed: text = ""
            Timer {
                id: searchDelay
                interval: 250
                onTriggered: {
                    page.app.librarySearchText = librarySearch.text.trim()
                    page.app.sgSearchLibrary(librarySearch.text)
                }
            }
        }
        Label {
            objectName: "tickedCount"
            visible: text !== ""
            text: page.app.tickedText
            color: "#f0c860"
            font.pixelSize: 14
        }
        Button {
            objectName: "librarySelectAll"
            text: Browser_txtselectall
            enabled: page.canSelect
            onClicked: page.selectShown(true)
        }
        Button {
            objectName: "librarySelectNone"
            text: Browser_txtselectnone
            enabled: page.canSelect
            onClicked: page.selectShown(false)
        }
        Button {
            objectName: "transferButton"
            text: MediaLibrary_txttransfer
            onClicked: page.app.exeRemoveTransfer("transfer")
        }
        Button {
            objectName: "removeButton"
            text: MediaLibrary_txtremove
            onClicked: {
                var ids = []
                for (var i = 2; i < 7; ++i)
                    if (page.tickable(i))
                        ids = ids.concat(page.app.selectedIds(page.tabList(i)))
                page.app.sgConfirmRemove(ids)
            }
        }
    }
    Label {
        objectName: "libraryStatus"
        visible: text !== ""
        color: "#f0c860"
        font.pixelSize: 14
        text: page.app.statusText
    }
    RepairPanel {
        Layout.fillWidth: true
        app: page.app
    }
    TabBar {
        id: tabs
        objectName: "libraryTabs"
        Layout.fillWidth: true
        // The focus mark goes with the current tab, whichever way it changed.
        onCurrentIndexChanged: {
            page.app.libraryTab = currentIndex
            page.app.closeDetail()
            for (var i = 0; i < count; ++i)
                if (itemAt(i).activeFocus) {
                    currentItem.forceActiveFocus()
                    break
                }
        }
        Keys.onLeftPressed: decrementCurrentIndex()
        Keys.onRightPressed: incrementCurrentIndex()
        background: Rectangle {
            implicitHeight: 1
            color: "transparent"
            Rectangle { anchors.bottom: parent.bottom; width: parent.width; height: 1; color: "#3a404a" }
        }
        // Drawn here: the style's own tabs drew the first one raised, like a mark, whichever was current.
        Repeater {
            model: page.tabNames
            TabButton {
                id: tab
                text: modelData
                focusPolicy: Qt.TabFocus
                Keys.onLeftPressed: tabs.decrementCurrentIndex()
                Keys.onRightPressed: tabs.incrementCurrentIndex()
                contentItem: Label {
                    text: tab.text
                    color: tab.checked ? "white" : "#9aa3ad"
                    font.pixelSize: 14
                    font.bold: tab.checked
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
                background: Rectangle {
                    implicitHeight: 34
                    color: tab.checked ? "#2f353e" : (tab.hovered ? "#2a2f37" : "transparent")
                    Rectangle {
                        anchors.bottom: parent.bottom
                        width: parent.width
                        height: 3
                        visible: tab.checked
                        color: "#f0b400"
                    }
                }
            }
        }
    }
    Connections {
        target: page.app
        function onLibraryTabChanged() { tabs.currentIndex = page.app.libraryTab }
    }
    StackLayout {
        Layout.fillWidth: true
        Layout.fillHeight: true
        currentIndex: page.detailOpen ? 7 : tabs.currentIndex
        LibraryList {
            objectName: "artistList"
            model: artistModel
            emptyText: page.emptyText(0)
            delegate: ListRow {
                showImage: false
                title: modelData.artistname
                subtitle: page.app.trackCountText(modelData.trackCount)
                detail: "›"
                onOpened: page.app.openDetail("artist", modelData.artistname)
            }
        }
        LibraryList {
            objectName: "albumList"
            model: albumModel
            emptyText: page.emptyText(1)
            delegate: ListRow {
                title: modelData.albumname
                subtitle: modelData.artistname + " · " + page.app.trackCountText(modelData.trackCount)
                image: modelData.cover
                detail: "›"
                onOpened: page.app.openDetail("album", modelData.albumname)
            }
        }
        LibraryList {
            objectName: "trackList"
            model: trackModel
            emptyText: page.emptyText(2)
            delegate: ListRow {
                item: modelData
                onTicked: page.app.sgSelectionChanged()
                title: modelData.trackname
                subtitle: modelData.artistname + " – " + modelData.albumname
                detail: modelData.duration
                image: modelData.cover
            }
        }
        LibraryList {
            objectName: "playlistList"
            model: playlistModel
            emptyText: page.emptyText(3)
            delegate: ListRow {
                item: modelData
                opensOnClick: true
                title: modelData.name
                subtitle: page.app.trackCountText(modelData.trackCount)
                image: modelData.cover
                detail: "›"
                onOpened: page.app.openDetail("playlist", modelData.name)
                onTicked: function(checked) { page.app.sgSelectPlaylist(modelData.name, checked) }
            }
        }
        LibraryList {
            objectName: "podcastList"
            model: podcastModel
            emptyText: page.emptyText(4)
            delegate: ListRow { item: modelData; onTicked: page.app.sgSelectionChanged(); title: modelData.trackname; subtitle: modelData.albumname; detail: modelData.duration; image: modelData.cover }
        }
        LibraryList {
            objectName: "audiobookList"
            model: audiobookModel
            emptyText: page.emptyText(5)
            delegate: ListRow { item: modelData; onTicked: page.app.sgSelectionChanged(); title: modelData.trackname; subtitle: modelData.artistname; detail: modelData.duration; image: modelData.cover }
        }
        LibraryList {
            objectName: "videoList"
            model: videoModel
            emptyText: page.emptyText(6)
            delegate: ListRow { item: modelData; onTicked: page.app.sgSelectionChanged(); title: modelData.trackname; subtitle: modelData.subtitle; detail: modelData.duration; image: modelData.cover }
        }
        DetailView { app: page.app }
    }
}
