import QtQuick
import QtQuick.Layouts
import Pellux

// One row of a form section: a label on the left, its control on the right, a divider above
// unless it is the first row.
ColumnLayout {
    id: root
    property string label
    property bool divider: false
    default property alias control: slot.data

    Layout.fillWidth: true
    spacing: 0

    Rectangle {
        visible: root.divider
        Layout.fillWidth: true
        Layout.leftMargin: 12
        Layout.preferredHeight: 1
        color: Theme.separator
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.minimumHeight: 32
        Layout.leftMargin: 12
        Layout.rightMargin: 12
        Layout.topMargin: 6
        Layout.bottomMargin: 6
        spacing: 12

        Text {
            textFormat: Text.PlainText
            visible: root.label.length > 0
            Layout.fillWidth: true
            text: root.label
            font.pixelSize: Theme.body
            color: Theme.primary
            elide: Text.ElideRight
        }
        RowLayout {
            id: slot
            Layout.fillWidth: root.label.length === 0
            spacing: 8
        }
    }
}
