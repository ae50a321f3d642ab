import QtQuick
import Pellux

// One application filter: its icon (when it has one) and its name on a capsule, black when chosen.
Rectangle {
    id: root
    property string title
    property url iconSource
    property bool isSelected: false
    signal clicked()

    implicitWidth: row.implicitWidth + 28
    implicitHeight: row.implicitHeight + 14
    radius: Math.min(20, height / 2)
    color: isSelected ? "black" : Theme.gray(0.08)
    Accessible.role: Accessible.Button
    Accessible.name: title

    // A plain positioner: a window opens with a chip for each application and date filter.
    Row {
        id: row
        anchors.centerIn: parent
        spacing: 4

        Image {
            id: icon
            anchors.verticalCenter: parent.verticalCenter
            source: root.iconSource
            asynchronous: true
            sourceSize: Qt.size(32, 32)
            width: 16
            height: 16
            visible: root.iconSource != "" && status === Image.Ready
        }

        Text {
            anchors.verticalCenter: parent.verticalCenter
            textFormat: Text.PlainText
            text: Format.name(root.title)
            font.pixelSize: 13
            font.weight: Font.Medium
            color: root.isSelected ? "white" : Theme.black(0.7)
        }
    }

    TapHandler { onTapped: root.clicked() }
    HoverHandler { cursorShape: Qt.PointingHandCursor }
}
