import QtQuick
import Pellux

// White with a thin grey outline and a soft shadow. The selection's outline is the card's, drawn
// over its screenshot.
Item {
    Rectangle {
        anchors.fill: parent
        anchors.topMargin: 2
        anchors.bottomMargin: -2
        anchors.leftMargin: -1
        anchors.rightMargin: -1
        radius: 13
        color: Theme.black(0.06)
    }
    Rectangle {
        anchors.fill: parent
        radius: 12
        color: "white"
        border.width: 1
        border.color: Theme.gray(0.2)
    }
}
