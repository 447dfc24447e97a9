import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The root object: its signals are joined to the program's slots by name at start-up, and the
// program calls its functions with untyped arguments.
Rectangle {
    id: root
    width: Math.min(typeof screenWidth !== "undefined" ? screenWidth : 1280, 1280)
    height: 760
    color: "#20242b"

    // To the program.
    signal sgVehicleChosen(string model, string modelName, string yearValue, int yearIndex)
    signal sgCheckMediaLibrary(int count)
    signal sgRefreshMain()
    signal sgClose()
    signal sgSearchInMediaSource(string source)
    signal sgCancelSearch()
    signal sgAddToLibrary(bool all)
    signal sgCancelCopy()
    signal sgSelectAllBrowserItems(bool selected)
    signal sgRemoveFromLibrary(var trackIds)
    signal sgSearchLibrary(string text)
    signal exeRemoveTransfer(string action)
    signal transferTomedia(int flag)
    signal sgProgressStoped(int flag)
    signal continueDrive(string drive, int format, int overwriteall, int overwritenewer, int overwritequality)
    signal transferandSyncDialog()

    property string currentPage: "welcome"
    property string vehicleName: typeof SelectedModelName !== "undefined" ? SelectedModelName : ""
    property string modelYear: typeof SelectedModelYearValue !== "undefined" ? SelectedModelYearValue : ""

    // From the program.
    function slStart() {
        if (vehicleName !== "" && vehicleName !== "Select" && modelYear !== "" && modelYear !== "Select")
            sgCheckMediaLibrary(0)
        else
            currentPage = "welcome"
    }
    function showMediaLibrary() { currentPage = "library" }
    function showStartPage() { currentPage = "start" }
    function showWelcomePage() { currentPage = "welcome" }
    function showmessageBox(text) {
        messageText.text = text
        messageBox.open()
    }
    function slSetVehicle(name, year) {
        vehicleName = name
        modelYear = year
    }
    function slShowSearchProgress(text) {
        busyText.text = text
        busy.open()
    }
    function slHideSearchProgress() { busy.close() }
    function slShowBrowser(displayType) {
        browserType = displayType
        currentPage = "browser"
    }
    function slUpdateCopyProgress(done, total) {
        copyDone = done
        copyTotal = total
        if (!copyBox.opened && done < total)
            copyBox.open()
    }
    function slUpdateTranscodingCounter(done, total) {
        convertDone = done
        if (!copyBox.opened)
            copyBox.open()
    }
    function slCopyFinished(added) {
        convertDone = 0
        copyBox.close()
        if (added > 0)
            currentPage = "library"
    }
    function slUpdateRepairProgress(done, total) {
        repairDone = done
        repairTotal = total
    }
    function slLibraryChanged(hasMedia) { libraryHasMedia = hasMedia }
    function slLibraryLoading(busy) { libraryLoading = busy }
    property bool libraryLoading: typeof libraryLoadingAtStart !== "undefined" ? libraryLoadingAtStart : false

    // The transfer to the car.
    function showTransferBrowser() {
        selectedDrive = ""
        transferDialog.open()
        transferTomedia(1)
    }
    function updateDrivesData(data) { }
    function slShowLoading() { formatWait.open() }
    function slHideLoading() { formatWait.close() }
    function slShowTransferProgress() {
        transferTotal = 0
        transferCount = 0
        transferFile = ""
        transferProgress.open()
    }
    function slhideTransferProgress() { transferProgress.close() }
    function slUpdateTransferProgress(total, count, file) {
        transferTotal = total
        transferCount = count
        transferFile = file
    }
    property string selectedDrive: ""
    property int transferTotal: 0
    property int transferCount: 0
    property string transferFile: ""

    property int browserType: 1
    property int copyDone: 0
    property int copyTotal: 0
    property int convertDone: 0
    property int repairDone: 0
    property int repairTotal: 0
    property bool libraryHasMedia: typeof isDB !== "undefined" ? isDB : false

    function trackCountText(n) { return n + " " + (n === 1 ? Common_txttrack : MediaLibrary_txttracks.toLowerCase()) }

    // The ids of the rows of a list model whose `selected` is set.
    function selectedIds(rows) {
        var ids = []
        for (var i = 0; i < rows.length; ++i)
            if (rows[i].selected)
                ids.push(rows[i].trackid)
        return ids
    }

    // Ticks or clears every row the library tabs can select.
    function selectRows(selected) {
        var lists = [trackModel, podcastModel, audiobookModel, videoModel]
        for (var i = 0; i < lists.length; ++i)
            for (var j = 0; j < lists[i].length; ++j)
                lists[i][j].selected = selected
    }

    component PageTitle: Label {
        color: "white"
        font.pixelSize: 28
        font.bold: true
    }
    component BodyText: Label {
        color: "#d0d4da"
        font.pixelSize: 16
        wrapMode: Text.WordWrap
    }


    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 16

        RowLayout {
            Layout.fillWidth: true
            Label {
                text: "KiVO"
                color: "#f0b400"
                font.pixelSize: 32
                font.bold: true
            }
            Item { Layout.fillWidth: true }
            Label {
                visible: root.currentPage !== "welcome"
                text: root.vehicleName + (root.modelYear !== "" ? " (" + root.modelYear + ")" : "")
                color: "#d0d4da"
                font.pixelSize: 16
            }
            Button {
                objectName: "addMediaButton"
                visible: root.currentPage !== "welcome"
                text: Header_txtaddmedia
                onClicked: root.currentPage = "start"
            }
            Button {
                objectName: "libraryButton"
                visible: root.currentPage !== "welcome"
                text: MediaLibrary_txttitle
                onClicked: root.currentPage = "library"
            }
            Button {
                objectName: "changeVehicleButton"
                visible: root.currentPage !== "welcome"
                text: ChangeVehicle_txt
                onClicked: root.currentPage = "welcome"
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: ["welcome", "start", "browser", "library"].indexOf(root.currentPage)

            // Welcome: the vehicle and model year decide what the car plays.
            ColumnLayout {
                objectName: "welcomePage"
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
                                if (vehicleList[i].name === root.vehicleName)
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
                        currentIndex: model.indexOf(root.modelYear)
                        displayText: currentIndex < 0 ? Welcome_txtselect : currentText
                    }
                }
                Button {
                    objectName: "continueButton"
                    text: Welcome_txtcontinue
                    enabled: vehicleBox.currentIndex >= 0 && yearBox.currentIndex >= 0
                    onClicked: {
                        root.sgVehicleChosen(String(vehicleBox.currentIndex), vehicleBox.currentText,
                                             yearBox.currentText, yearBox.currentIndex)
                        root.sgCheckMediaLibrary(0)
                    }
                }
                Item { Layout.fillHeight: true }
            }

            // Start: the library is empty, so the user begins by adding media.
            ColumnLayout {
                objectName: "startPage"
                spacing: 18
                PageTitle { text: root.libraryHasMedia ? StartPage_txtaddtitle : StartPage_txttitle }
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
                            onClicked: root.sgSearchInMediaSource(modelData[0])
                        }
                    }
                }
                Item { Layout.fillHeight: true }
            }

            // The media browser: what a source holds, to pick from.
            ColumnLayout {
                objectName: "browserPage"
                spacing: 8
                PageTitle { text: Browser_txttitle }
                RowLayout {
                    Button { text: Browser_txtselectall; onClicked: root.sgSelectAllBrowserItems(true) }
                    Button { text: Browser_txtselectnone; onClicked: root.sgSelectAllBrowserItems(false) }
                    Item { Layout.fillWidth: true }
                    Label { color: "#d0d4da"; text: browserModel.length + " " + Browser_txtfiles }
                    Button {
                        objectName: "addSelectedButton"
                        text: Browser_txtaddselected
                        enabled: browserModel.length > 0
                        onClicked: root.sgAddToLibrary(false)
                    }
                    Button {
                        objectName: "addAllButton"
                        text: Browser_txtaddall
                        enabled: browserModel.length > 0
                        onClicked: root.sgAddToLibrary(true)
                    }
                }
                BodyText { visible: browserModel.length === 0; text: Browser_txtempty }
                LibraryList {
                    objectName: "browserList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    model: browserModel
                    delegate: ListRow {
                        selectable: true
                        title: modelData.trackname
                        subtitle: modelData.artistname + " – " + modelData.albumname
                        detail: modelData.duration
                        image: modelData.cover
                    }
                }
            }

            // The media library.
            ColumnLayout {
                objectName: "libraryPage"
                spacing: 8
                RowLayout {
                    Layout.fillWidth: true
                    PageTitle { text: MediaLibrary_txttitle }
                    BusyIndicator {
                        objectName: "libraryBusy"
                        visible: root.libraryLoading
                        running: visible
                        Layout.preferredHeight: 32
                        Layout.preferredWidth: 32
                    }
                    Item { Layout.fillWidth: true }
                    TextField {
                        id: librarySearch
                        objectName: "librarySearch"
                        Layout.preferredWidth: 260
                        placeholderText: MediaLibrary_txtsearch
                        // Every key would rebuild the views; wait for a pause in typing.
                        onTextChanged: searchDelay.restart()
                        Timer {
                            id: searchDelay
                            interval: 250
                            onTriggered: root.sgSearchLibrary(librarySearch.text)
                        }
                    }
                    Button {
                        text: Browser_txtselectall
                        onClicked: root.selectRows(true)
                    }
                    Button {
                        text: Browser_txtselectnone
                        onClicked: root.selectRows(false)
                    }
                    Button {
                        objectName: "transferButton"
                        text: MediaLibrary_txttransfer
                        onClicked: root.exeRemoveTransfer("transfer")
                    }
                    Button {
                        objectName: "removeButton"
                        text: MediaLibrary_txtremove
                        onClicked: {
                            var lists = [trackModel, podcastModel, audiobookModel, videoModel]
                            var ids = []
                            for (var i = 0; i < lists.length; ++i)
                                ids = ids.concat(root.selectedIds(lists[i]))
                            root.sgRemoveFromLibrary(ids)
                        }
                    }
                }
                Label {
                    visible: root.repairTotal > 0
                    color: "#d0d4da"
                    text: MediaLibrary_txtrepairing + " " + root.repairDone + " / " + root.repairTotal
                }
                TabBar {
                    id: libraryTabs
                    Layout.fillWidth: true
                    TabButton { text: MediaLibrary_txtartists }
                    TabButton { text: MediaLibrary_txtalbums }
                    TabButton { text: MediaLibrary_txttracks }
                    TabButton { text: MediaLibrary_txtplaylists }
                    TabButton { text: MediaLibrary_txtpodcasts }
                    TabButton { text: MediaLibrary_txtaudiobooks }
                    TabButton { text: MediaLibrary_txtvideos }
                }
                StackLayout {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    currentIndex: libraryTabs.currentIndex
                    LibraryList {
                        objectName: "artistList"
                        model: artistModel
                        delegate: ListRow { title: modelData.artistname; subtitle: root.trackCountText(modelData.trackCount) }
                    }
                    LibraryList {
                        objectName: "albumList"
                        model: albumModel
                        delegate: ListRow { title: modelData.albumname; subtitle: modelData.artistname; image: modelData.cover }
                    }
                    LibraryList {
                        objectName: "trackList"
                        model: trackModel
                        delegate: ListRow { selectable: true; title: modelData.trackname; subtitle: modelData.artistname + " – " + modelData.albumname; detail: modelData.duration; image: modelData.cover }
                    }
                    LibraryList {
                        objectName: "playlistList"
                        model: playlistModel
                        delegate: ListRow { title: modelData.name; subtitle: root.trackCountText(modelData.trackCount); image: modelData.cover }
                    }
                    LibraryList {
                        objectName: "podcastList"
                        model: podcastModel
                        delegate: ListRow { selectable: true; title: modelData.trackname; subtitle: modelData.albumname; detail: modelData.duration }
                    }
                    LibraryList {
                        objectName: "audiobookList"
                        model: audiobookModel
                        delegate: ListRow { selectable: true; title: modelData.trackname; subtitle: modelData.artistname; detail: modelData.duration }
                    }
                    LibraryList {
                        objectName: "videoList"
                        model: videoModel
                        delegate: ListRow { selectable: true; title: modelData.trackname; subtitle: modelData.filepath; detail: modelData.duration; image: modelData.cover }
                    }
                }
            }
        }
    }

    component LibraryList: ListView {
        clip: true
        spacing: 2
        ScrollBar.vertical: ScrollBar {}
    }

    component ListRow: Rectangle {
        property string title
        property string subtitle
        property string detail
        property string image
        property bool selectable: false
        width: ListView.view ? ListView.view.width : 400
        height: 52
        color: "#2a2f37"
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 8
            anchors.rightMargin: 12
            spacing: 10
            CheckBox {
                visible: selectable
                checked: selectable && modelData.selected
                onToggled: modelData.selected = checked
            }
            Image {
                Layout.preferredWidth: 40
                Layout.preferredHeight: 40
                visible: image !== ""
                source: image === "" ? "" : (image.indexOf(":") > 1 ? image : "file://" + image)
                fillMode: Image.PreserveAspectFit
                asynchronous: true
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 0
                Label { text: title; color: "white"; font.pixelSize: 15; elide: Text.ElideRight; Layout.fillWidth: true }
                Label { text: subtitle; color: "#9aa3ad"; font.pixelSize: 12; elide: Text.ElideRight; Layout.fillWidth: true }
            }
            Label { text: detail; color: "#9aa3ad"; font.pixelSize: 12 }
        }
    }

    Popup {
        id: busy
        objectName: "searchProgress"
        anchors.centerIn: parent
        modal: true
        closePolicy: Popup.NoAutoClose
        padding: 24
        background: Rectangle { color: "#2f353e"; radius: 6 }
        contentItem: ColumnLayout {
            spacing: 14
            BusyIndicator { Layout.alignment: Qt.AlignHCenter; running: busy.opened }
            Label { id: busyText; color: "white"; font.pixelSize: 16; Layout.alignment: Qt.AlignHCenter }
            Button {
                Layout.alignment: Qt.AlignHCenter
                text: Common_txtcancel
                onClicked: root.sgCancelSearch()
            }
        }
    }

    CopyProgress {
        id: copyBox
        objectName: "copyProgress"
        anchors.centerIn: parent
        done: root.copyDone
        total: root.copyTotal
        converted: root.convertDone
        onCancel: root.sgCancelCopy()
    }

    Popup {
        id: messageBox
        objectName: "messageBox"
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 520)
        modal: true
        padding: 20
        background: Rectangle { color: "#2f353e"; radius: 6; border.color: "#f0b400" }
        contentItem: ColumnLayout {
            spacing: 16
            Label {
                id: messageText
                objectName: "messageText"
                Layout.fillWidth: true
                color: "white"
                font.pixelSize: 16
                wrapMode: Text.WordWrap
            }
            Button {
                Layout.alignment: Qt.AlignRight
                text: MessageBox_txtok
                onClicked: messageBox.close()
            }
        }
    }

    Popup {
        id: transferDialog
        objectName: "transferDialog"
        anchors.centerIn: parent
        palette.windowText: "white"
        width: Math.min(parent.width - 80, 640)
        modal: true
        closePolicy: Popup.NoAutoClose
        padding: 24
        background: Rectangle { color: "#2f353e"; radius: 6 }
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
                model: drivedetails
                RadioButton {
                    Layout.fillWidth: true
                    ButtonGroup.group: driveGroup
                    font.pixelSize: 15
                    checked: root.selectedDrive === modelData.driveletter
                    onClicked: root.selectedDrive = modelData.driveletter
                    text: modelData.isSystem === 1
                          ? TransferandSync_folder + ": " + modelData.driveletter
                          : modelData.driveletter + "   " + modelData.filesystem + " (" + modelData.drivename + ")   "
                            + modelData.freespace + " " + TransferandSync_free + " " + modelData.totalspace + " GB"
                }
            }
            Button {
                objectName: "openDirectoryButton"
                text: TransferandSync_opendirectory
                onClicked: root.transferandSyncDialog()
            }
            CheckBox {
                id: formatBox
                objectName: "formatBox"
                text: TransferandSync_format
                enabled: {
                    for (var i = 0; i < drivedetails.length; ++i)
                        if (drivedetails[i].driveletter === root.selectedDrive)
                            return drivedetails[i].isSystem === 0
                    return false
                }
            }
            CheckBox { id: overwriteAll; objectName: "overwriteAll"; text: TransferandSync_overwriteall }
            CheckBox { id: overwriteNewer; objectName: "overwriteNewer"; text: TransferandSync_overwritenewer }
            CheckBox { id: overwriteQuality; objectName: "overwriteQuality"; text: TransferandSync_overwritequality }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                Button {
                    text: Common_txtcancel
                    onClicked: {
                        transferDialog.close()
                        root.transferTomedia(0)
                    }
                }
                Button {
                    objectName: "startTransferButton"
                    text: TransferandSync_continue
                    enabled: root.selectedDrive !== ""
                    onClicked: {
                        transferDialog.close()
                        root.continueDrive(root.selectedDrive, formatBox.enabled && formatBox.checked ? 1 : 0,
                                           overwriteAll.checked ? 1 : 0, overwriteNewer.checked ? 1 : 0,
                                           overwriteQuality.checked ? 1 : 0)
                    }
                }
            }
        }
    }

    Popup {
        id: formatWait
        objectName: "formatWait"
        anchors.centerIn: parent
        modal: true
        closePolicy: Popup.NoAutoClose
        padding: 24
        background: Rectangle { color: "#2f353e"; radius: 6 }
        contentItem: ColumnLayout {
            spacing: 14
            BusyIndicator { Layout.alignment: Qt.AlignHCenter; running: formatWait.opened }
            Label { color: "white"; font.pixelSize: 16; text: TransferandSync_formatting }
        }
    }

    Popup {
        id: transferProgress
        objectName: "transferProgress"
        anchors.centerIn: parent
        width: 460
        modal: true
        closePolicy: Popup.NoAutoClose
        padding: 24
        background: Rectangle { color: "#2f353e"; radius: 6 }
        contentItem: ColumnLayout {
            spacing: 14
            Label {
                objectName: "transferCount"
                color: "white"
                font.pixelSize: 16
                text: TransferandSync_progress + " " + root.transferCount + " / " + root.transferTotal
            }
            Label {
                Layout.fillWidth: true
                color: "#9aa3ad"
                font.pixelSize: 13
                elide: Text.ElideMiddle
                text: root.transferFile
            }
            ProgressBar { Layout.fillWidth: true; from: 0; to: Math.max(1, root.transferTotal); value: root.transferCount }
            Button {
                objectName: "stopTransferButton"
                Layout.alignment: Qt.AlignHCenter
                text: TransferandSync_stop
                onClicked: root.sgProgressStoped(1)
            }
        }
    }
}
