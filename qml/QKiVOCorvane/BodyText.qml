import QtQuick
import QtQuick.Controls

Label {
    color: "#d0d4da"
    font.pixelSize: 16
    wrapMode: Text.WordWrap
}
