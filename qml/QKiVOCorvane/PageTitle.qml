import QtQuick
import QtQuick.Controls

Label {
    color: "white"
    font.pixelSize: 28
    font.bold: true
}
