import QtQuick
import QtQuick.Layouts
import Pellux

// A titled group of rows on a rounded card, as in a grouped form.
ColumnLayout {
    id: root
    property string title
    default property alias rows: card.data

    Layout.fillWidth: true
    spacing: 6

    Text {
        textFormat: Text.PlainText
        visible: root.title.length > 0
        Layout.leftMargin: 4
        text: root.title
        font.pixelSize: Theme.callout
        font.weight: Font.DemiBold
        color: Theme.secondary
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: card.implicitHeight + 4
        radius: 8
        color: Theme.controlBackground
        border.color: Theme.black(0.08)

        ColumnLayout {
            id: card
            anchors.fill: parent
            anchors.topMargin: 2
            anchors.bottomMargin: 2
            spacing: 0
        }
    }
}
