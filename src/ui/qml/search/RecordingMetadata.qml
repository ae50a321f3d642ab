import QtQuick
import QtQuick.Layouts
import Pellux

// The application, the capture time relative to now and the window title of a card.
Item {
    id: root
    property string appName
    property string windowTitle
    property string relativeTime

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 4

        RowLayout {
            Layout.fillWidth: true
            Text {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                text: root.appName
                elide: Text.ElideRight
                maximumLineCount: 1
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.primary
            }
            Text {
                textFormat: Text.PlainText
                text: root.relativeTime
                font.pixelSize: 11
                color: Theme.secondary
            }
        }

        Text {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            visible: root.windowTitle.length > 0
            text: root.windowTitle
            wrapMode: Text.Wrap
            elide: Text.ElideRight
            maximumLineCount: 2
            font.pixelSize: 12
            color: Theme.secondaryAt(0.8)
        }

        Item { Layout.fillHeight: true }
    }
}
