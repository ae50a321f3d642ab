import QtQuick
import QtQuick.Layouts
import Pellux

// A small titled figure; red when it reports an error.
Rectangle {
    id: root
    property string title
    property string value
    property bool isError: false

    Layout.fillWidth: true
    implicitWidth: column.implicitWidth + 16
    implicitHeight: column.implicitHeight + 16
    radius: 8
    color: Theme.controlBackground

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 8
        spacing: 4
        Text {
            textFormat: Text.PlainText
            text: root.title
            font.pixelSize: Theme.caption
            color: Theme.secondary
        }
        Text {
            textFormat: Text.PlainText
            text: root.value
            font.pixelSize: Theme.title3
            font.weight: Font.DemiBold
            color: root.isError ? Theme.red : Theme.primary
        }
    }
}
