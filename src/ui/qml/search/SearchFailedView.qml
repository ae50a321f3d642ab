import QtQuick
import QtQuick.Layouts
import Pellux

// A search or browse the database could not answer: the reason, in red, where the results would be.
Item {
    id: root
    objectName: "searchFailed"
    property string failure

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(root.width - 48, 560)
        spacing: 12

        SymbolIcon {
            Layout.alignment: Qt.AlignHCenter
            name: "exclamationmark.triangle"
            size: 36
            color: Theme.red
        }
        Text {
            textFormat: Text.PlainText
            objectName: "searchFailedText"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: root.failure
            font.pixelSize: 15
            font.weight: Font.Medium
            color: Theme.red
        }
        Text {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: "Try again; if this keeps happening, restart Pellux"
            font.pixelSize: 13
            color: Theme.secondaryAt(0.6)
        }
    }
}
