import QtQuick
import Pellux

// White with a thin grey outline and a soft shadow; a black outline of 2 when selected.
Item {
    id: root
    property bool isSelected: false

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
        border.width: root.isSelected ? 2 : 1
        border.color: root.isSelected ? "black" : Theme.gray(0.2)
    }
}
