import QtQuick
import QtQuick.Layouts
import Pellux

// A one-line notice across the top of a window, closed with its cross. It never takes the keyboard
// focus.
Rectangle {
    id: root
    property string text
    signal dismissed()

    implicitHeight: visible ? row.implicitHeight + 16 : 0
    color: "#fff6dc"

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        spacing: 8

        SymbolIcon {
            name: "exclamationmark.triangle"
            size: 16
            color: Theme.orange
        }
        Text {
            textFormat: Text.PlainText
            objectName: "noticeText"
            Layout.fillWidth: true
            text: root.text
            wrapMode: Text.WordWrap
            font.pixelSize: Theme.body
            color: Theme.primary
        }
        SymbolIcon {
            objectName: "noticeClose"
            name: "xmark.circle.fill"
            size: 14
            color: Theme.gray(0.6)
            TapHandler { onTapped: root.dismissed() }
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.separator
    }
}
