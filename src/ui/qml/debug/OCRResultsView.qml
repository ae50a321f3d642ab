import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The recognised texts, newest first, narrowed by a search.
ColumnLayout {
    id: root
    required property DebugViewModel debugModel

    spacing: 12

    Rectangle {
        Layout.fillWidth: true
        Layout.leftMargin: 16
        Layout.rightMargin: 16
        Layout.topMargin: 16
        implicitHeight: searchRow.implicitHeight + 16
        radius: 8
        color: Theme.controlBackground
        border.color: Theme.separator

        RowLayout {
            id: searchRow
            anchors.fill: parent
            anchors.margins: 8
            anchors.leftMargin: 10
            spacing: 8

            SymbolIcon {
                name: "magnifyingglass"
                size: 14
                Layout.preferredWidth: size
                Layout.preferredHeight: size
                color: Theme.secondary
            }
            TextField {
                objectName: "ocrSearchField"
                Layout.fillWidth: true
                background: null
                padding: 0
                font.pixelSize: Theme.body
                color: Theme.primary
                placeholderText: "Search OCR text..."
                placeholderTextColor: Theme.secondary
                selectByMouse: true
                text: root.debugModel.searchText
                onTextEdited: root.debugModel.searchText = text
            }
            PushButton {
                objectName: "debugPrintButton"
                text: "Debug Print DB"
                onClicked: root.debugModel.debugPrintDatabase()
            }
        }
    }

    Rectangle {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.leftMargin: 16
        Layout.rightMargin: 16
        Layout.bottomMargin: 16
        radius: 8
        color: Theme.controlBackground
        border.color: Theme.separator

        ListView {
            id: list
            objectName: "ocrResultList"
            anchors.fill: parent
            anchors.margins: 1
            clip: true
            model: root.debugModel.ocrResults
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}

            delegate: Item {
                id: row
                required property int index
                required property string timeText
                required property string text
                required property string confidenceText
                required property color confidenceColor
                required property string boundsText

                width: ListView.view.width
                implicitHeight: rowColumn.implicitHeight + 20

                ColumnLayout {
                    id: rowColumn
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.leftMargin: 14
                    anchors.rightMargin: 14
                    spacing: 4

                    RowLayout {
                        Layout.fillWidth: true
                        Text {
                            textFormat: Text.PlainText
                            text: row.timeText
                            font.pixelSize: Theme.caption
                            color: Theme.secondary
                        }
                        Item { Layout.fillWidth: true }
                        Text {
                            textFormat: Text.PlainText
                            text: row.confidenceText
                            font.pixelSize: Theme.caption
                            font.weight: Font.Medium
                            color: row.confidenceColor
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: row.text
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.pixelSize: Theme.body
                        color: Theme.primary
                    }
                    Text {
                        textFormat: Text.PlainText
                        visible: row.boundsText !== ""
                        text: row.boundsText
                        font.pixelSize: Theme.caption
                        color: Theme.secondary
                    }
                }

                Rectangle {
                    visible: row.index < list.count - 1
                    anchors.bottom: parent.bottom
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.leftMargin: 14
                    height: 1
                    color: Theme.separator
                }
            }
        }
    }
}
