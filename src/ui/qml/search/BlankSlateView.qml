import QtQuick
import QtQuick.Layouts
import Pellux

// What the window shows before anything is typed: how many screenshots can be searched.
Item {
    id: root
    objectName: "blankSlate"
    property int recordingCount: 0

    ColumnLayout {
        anchors.centerIn: parent
        spacing: 20

        SymbolIcon {
            Layout.alignment: Qt.AlignHCenter
            name: "camera.viewfinder"
            size: 48
            color: Theme.secondaryAt(0.6)
        }
        ColumnLayout {
            Layout.alignment: Qt.AlignHCenter
            spacing: 6
            Text {
                textFormat: Text.PlainText
                Layout.alignment: Qt.AlignHCenter
                text: "Your Visual Memory"
                font.pixelSize: 24
                font.weight: Font.Medium
                color: Theme.primaryAt(0.9)
            }
            Text {
                textFormat: Text.PlainText
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Search through %1 screenshots").arg(root.recordingCount)
                font.pixelSize: 14
                color: Theme.secondary
            }
        }
    }
}
