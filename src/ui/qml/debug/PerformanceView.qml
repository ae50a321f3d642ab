import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// Processor and memory use, the store's size and the pipeline's counters.
ScrollView {
    id: root
    required property QtObject debug
    required property DebugViewModel debugModel
    required property QtObject storage

    contentWidth: availableWidth
    clip: true

    component Section: ColumnLayout {
        property string title
        default property alias content: body.data
        Layout.fillWidth: true
        spacing: 8
        Text {
            textFormat: Text.PlainText
            text: parent.title
            font.pixelSize: Theme.headline
            font.bold: true
            color: Theme.primary
        }
        ColumnLayout {
            id: body
            Layout.fillWidth: true
            spacing: 4
        }
    }

    ColumnLayout {
        x: 16
        y: 16
        width: root.availableWidth - 32
        spacing: 20

        Section {
            title: "CPU Usage"
            RowLayout {
                Layout.fillWidth: true
                spacing: 12
                ProgressBar {
                    id: cpuBar
                    objectName: "cpuBar"
                    Layout.fillWidth: true
                    from: 0
                    to: 100
                    value: Math.max(0, Math.min(100, root.debugModel.cpuUsage))
                    background: Rectangle {
                        implicitWidth: 200
                        implicitHeight: 6
                        radius: 3
                        color: Theme.gray(0.2)
                    }
                    contentItem: Item {
                        implicitHeight: 6
                        Rectangle {
                            width: cpuBar.visualPosition * parent.width
                            height: parent.height
                            radius: 3
                            color: root.debugModel.cpuUsageColor
                        }
                    }
                }
                Text {
                    textFormat: Text.PlainText
                    objectName: "cpuText"
                    Layout.preferredWidth: 50
                    horizontalAlignment: Text.AlignRight
                    text: root.debugModel.cpuUsageText
                    font.pixelSize: Theme.body
                    font.weight: Font.Medium
                    color: root.debugModel.cpuUsageColor
                }
            }
        }

        Section {
            title: "Memory Usage"
            Text {
                textFormat: Text.PlainText
                objectName: "memoryText"
                text: root.debugModel.memoryText
                font.pixelSize: Theme.body
                color: Theme.primary
            }
            Text {
                textFormat: Text.PlainText
                text: "Base: <500MB"
                font.pixelSize: Theme.caption
                color: Theme.secondary
            }
        }

        Section {
            title: "Storage"
            RowLayout {
                Layout.fillWidth: true
                ColumnLayout {
                    spacing: 2
                    Text {
                        textFormat: Text.PlainText
                        text: "Screenshots"
                        font.pixelSize: Theme.caption
                        color: Theme.secondary
                    }
                    Text {
                        textFormat: Text.PlainText
                        objectName: "recordingCount"
                        text: root.storage ? root.storage.recordingCount : 0
                        font.pixelSize: Theme.title
                        font.weight: Font.DemiBold
                        color: Theme.primary
                    }
                }
                Item { Layout.fillWidth: true }
                ColumnLayout {
                    spacing: 2
                    Text {
                        textFormat: Text.PlainText
                        Layout.alignment: Qt.AlignRight
                        text: "Storage Used"
                        font.pixelSize: Theme.caption
                        color: Theme.secondary
                    }
                    Text {
                        textFormat: Text.PlainText
                        objectName: "storageUsed"
                        Layout.alignment: Qt.AlignRight
                        text: Format.bytes(root.storage ? root.storage.storageUsed : 0)
                        font.pixelSize: Theme.title
                        font.weight: Font.DemiBold
                        color: Theme.primary
                    }
                }
            }
        }

        Section {
            title: "Processing"
            GridLayout {
                Layout.fillWidth: true
                columns: 2
                rowSpacing: 16
                columnSpacing: 16

                StatBox {
                    Layout.preferredWidth: 1
                    title: "Frames Captured"
                    value: root.debug.framesProcessed
                }
                StatBox {
                    Layout.preferredWidth: 1
                    title: "OCR Operations"
                    value: root.debug.ocrOperations
                }
                StatBox {
                    Layout.preferredWidth: 1
                    title: "Avg Process Time"
                    value: root.debugModel.avgProcessingTimeText
                }
                StatBox {
                    objectName: "errorsBox"
                    Layout.preferredWidth: 1
                    title: "Errors"
                    value: root.debug.errorCount
                    isError: root.debugModel.hasErrors
                }
                StatBox {
                    objectName: "textBacklogBox"
                    Layout.preferredWidth: 1
                    Layout.columnSpan: 2
                    title: "Text Waiting"
                    value: root.debugModel.textBacklogText
                }
            }
        }
    }
}
