import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The root object: its signals are joined to the program's slots by name at start-up, and the
// program calls its functions with untyped arguments. The program sizes the window; this size
// only stands until it does.
Rectangle {
    id: root
    width: 1280
    height: 800
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
    signal sgConfirmRemove(var trackIds)
    signal sgRemoveFromLibrary(var trackIds)
    signal sgSearchLibrary(string text)
    signal sgPopulateAdvancedSettings()
    signal sgCollectMediaToUpdate(var trackIds)
    signal sgCancelOptimization()
    signal sgPauseRepair(bool paused)
    signal sgOpenDetail(string kind, string name)
    signal sgSelectPlaylist(string name, bool selected)
    signal sgSelectionChanged()
    signal exeRemoveTransfer(string action)
    signal transferTomedia(int flag)
    signal sgProgressStoped(int flag)
    signal continueDrive(string drive, int format, int overwriteall, int overwritenewer, int overwritequality)
    signal transferandSyncDialog()

    property string currentPage: "welcome"
    // Where "Change vehicle" was pressed, for the welcome page's way back.
    property string previousPage: ""
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
        browserNote = ""
        busyText.text = text
        busy.open()
    }
    function slHideSearchProgress() { busy.close() }
    function slShowBrowser(displayType) {
        browserType = displayType
        currentPage = "browser"
    }
    function slBrowserNote(text) { browserNote = text }
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
    function slUpdateConversionProgress(done, total, file, secondsLeft) {
        conversion = {"done": done, "total": total, "file": file, "secondsLeft": secondsLeft,
                      "running": done < total}
        if (!copyBox.opened && done < total)
            copyBox.open()
    }
    function slCopyFinished(added) {
        convertDone = 0
        conversion = {"done": 0, "total": 0, "file": "", "secondsLeft": -1, "running": false}
        copyBox.close()
        if (added > 0)
            currentPage = "library"
    }
    function slShowStatus(text) { statusText = text }
    function slShowLibraryTab(name) {
        var i = ["artists", "albums", "tracks", "playlists", "podcasts", "audiobooks", "videos"].indexOf(name)
        if (i >= 0)
            libraryTab = i
    }
    function slUpdateRepairProgress(done, total) {
        repairDone = done
        repairTotal = total
    }
    function slLibraryChanged(hasMedia) { libraryHasMedia = hasMedia }
    function slLibraryLoading(busy) { libraryLoading = busy }
    function slShowDetail(title, kind) {
        detailTitle = title
        detailKind = kind
    }
    function slAskRemoval(text, ids) {
        removalBox.text = text
        removalBox.subject = ids
        removalBox.open()
    }
    function slShowTicked(text) { tickedText = text }
    property string tickedText: ""
    property bool libraryLoading: typeof libraryLoadingAtStart !== "undefined" ? libraryLoadingAtStart : false

    // The transfer to the car.
    function showTransferBrowser() {
        selectedDrive = ""
        transferDialog.open()
        transferTomedia(1)
    }
    function updateDrivesData(data) { }
    function slFolderChosen(folder) { transferDialog.folderAnswer = folder }
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
    property string browserNote: ""
    property int copyDone: 0
    property int copyTotal: 0
    property int convertDone: 0
    // The add's audio conversion, as the program last told it.
    property var conversion: ({"done": 0, "total": 0, "file": "", "secondsLeft": -1, "running": false})
    property int repairDone: 0
    property int repairTotal: 0
    property bool libraryHasMedia: typeof isDB !== "undefined" ? isDB : false
    property string statusText: ""
    property int libraryTab: 0
    property string librarySearchText: ""
    // The artist, album or playlist open in the library; "" while none is.
    property string detailKind: ""
    property string detailTitle: ""

    function trackCountText(n) { return n + " " + (n === 1 ? Common_txttrack : MediaLibrary_txttracks.toLowerCase()) }

    // The ids of the rows of a list model whose `selected` is set.
    function selectedIds(rows) {
        var ids = []
        for (var i = 0; i < rows.length; ++i)
            if (rows[i].selected)
                ids.push(rows[i].trackid)
        return ids
    }

    // Ticks or clears every row of the library view in front.
    function selectRows(selected) { libraryPage.selectShown(selected) }
    function openDetail(kind, name) { sgOpenDetail(kind, name) }
    function closeDetail() {
        if (detailKind === "")
            return
        detailKind = ""
        sgOpenDetail("", "")
    }

    AppHeader {
        id: header
        objectName: "header"
        app: root
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 24
    }

    // Each page is a layout of its own, arranged whenever it changes.
    Item {
        id: pages
        anchors.top: header.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 24
        anchors.topMargin: 16
        WelcomePage { objectName: "welcomePage"; anchors.fill: parent; app: root; visible: root.currentPage === "welcome" }
        StartPage { objectName: "startPage"; anchors.fill: parent; app: root; visible: root.currentPage === "start" }
        BrowserPage { objectName: "browserPage"; anchors.fill: parent; app: root; visible: root.currentPage === "browser" }
        LibraryPage {
            id: libraryPage
            objectName: "libraryPage"
            anchors.fill: parent
            app: root
            visible: root.currentPage === "library"
        }
    }

    ModalBox {
        id: busy
        objectName: "searchProgress"
        anchors.centerIn: parent
        cancelButton: searchCancel
        padding: 24
        background: Rectangle { color: "#2f353e"; radius: 6 }
        contentItem: ColumnLayout {
            spacing: 14
            BusyIndicator { Layout.alignment: Qt.AlignHCenter; running: busy.opened; palette.text: "#f0b400" }
            Label { id: busyText; color: "white"; font.pixelSize: 16; Layout.alignment: Qt.AlignHCenter }
            Button {
                id: searchCancel
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
        conversion: root.conversion
        onCancel: root.sgCancelCopy()
    }

    // Its one button is both what Return and what Escape press.
    ModalBox {
        id: messageBox
        objectName: "messageBox"
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 520)
        closePolicy: Popup.CloseOnPressOutside
        defaultButton: messageOk
        cancelButton: messageOk
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
                id: messageOk
                objectName: "messageOk"
                Layout.alignment: Qt.AlignRight
                text: MessageBox_txtok
                onClicked: messageBox.close()
            }
        }
    }

    ConfirmBox {
        id: removalBox
        objectName: "removalBox"
        anchors.centerIn: parent
        acceptText: MediaLibrary_txtconfirmremove
        onAccepted: function(ids) { root.sgRemoveFromLibrary(ids) }
    }

    TransferDialog {
        id: transferDialog
        objectName: "transferDialog"
        anchors.centerIn: parent
        app: root
    }

    ModalBox {
        id: formatWait
        objectName: "formatWait"
        anchors.centerIn: parent
        padding: 24
        background: Rectangle { color: "#2f353e"; radius: 6 }
        contentItem: ColumnLayout {
            spacing: 14
            BusyIndicator { Layout.alignment: Qt.AlignHCenter; running: formatWait.opened; palette.text: "#f0b400" }
            Label { color: "white"; font.pixelSize: 16; text: TransferandSync_formatting }
        }
    }

    TransferProgress {
        id: transferProgress
        objectName: "transferProgress"
        anchors.centerIn: parent
        app: root
    }

    FocusMark { }
}
