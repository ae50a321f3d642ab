import QtQuick
import QtQuick.Layouts
import Pellux

// A symbol, a title and a subtitle in the middle of the results area.
Item {
    id: root
    property string symbol
    property string title
    property string subtitle

    ColumnLayout {
        anchors.centerIn: parent
        spacing: 12

        SymbolIcon {
            Layout.alignment: Qt.AlignHCenter
            name: root.symbol
            size: 36
            color: Theme.secondaryAt(0.5)
        }
        Text {
            textFormat: Text.PlainText
            Layout.alignment: Qt.AlignHCenter
            text: root.title
            font.pixelSize: 18
            font.weight: Font.Medium
            color: Theme.secondaryAt(0.8)
        }
        Text {
            textFormat: Text.PlainText
            Layout.alignment: Qt.AlignHCenter
            text: root.subtitle
            font.pixelSize: 13
            color: Theme.secondaryAt(0.6)
        }
    }
}
