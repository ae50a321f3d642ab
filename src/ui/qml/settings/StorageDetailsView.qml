import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The popover of the storage button: disk use, the number of screenshots and, while old
// screenshots are being re-compressed, the progress and the space saved.
Popup {
    id: root
    objectName: "storageDetails"
    required property QtObject storage
    required property QtObject optimizer
    readonly property bool isOptimizing: optimizer !== null && optimizer.isOptimizing

    width: 280
    padding: 16
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
    background: Rectangle {
        radius: 10
        color: "white"
        border.color: Theme.gray(0.25)
    }

    component LabelRow: RowLayout {
        property string label
        default property alias value: valueSlot.data
        Layout.fillWidth: true
        Text {
            textFormat: Text.PlainText
            text: parent.label
            font.pixelSize: 11
            color: Theme.secondary
        }
        Item { Layout.fillWidth: true }
        Item {
            id: valueSlot
            implicitWidth: childrenRect.width
            implicitHeight: childrenRect.height
        }
    }

    contentItem: ColumnLayout {
        spacing: 12

        Text {
            textFormat: Text.PlainText
            text: "Storage Details"
            font.pixelSize: Theme.headline
            font.bold: true
            color: Theme.primary
        }

        Rectangle { Layout.fillWidth: true; Layout.preferredHeight: 1; color: Theme.separator }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            LabelRow {
                label: "Total Storage:"
                Text {
                    textFormat: Text.PlainText
                    text: Format.bytes(root.storage ? root.storage.storageUsed : 0)
                    font.pixelSize: 11
                    font.weight: Font.Medium
                    color: Theme.primary
                }
            }
            LabelRow {
                label: "Screenshots:"
                Text {
                    textFormat: Text.PlainText
                    text: (root.storage ? root.storage.recordingCount : 0) + " files"
                    font.pixelSize: 11
                    color: Theme.primary
                }
            }
            LabelRow {
                objectName: "optimizingRow"
                visible: root.isOptimizing
                label: "Optimizing:"
                ProgressBar {
                    width: 100
                    from: 0
                    to: 1
                    value: root.optimizer ? root.optimizer.optimizationProgress : 0
                }
            }
            LabelRow {
                objectName: "savedRow"
                visible: root.isOptimizing
                label: "Space Saved:"
                Text {
                    textFormat: Text.PlainText
                    text: Format.bytes(root.optimizer ? root.optimizer.savedBytes : 0)
                    font.pixelSize: 11
                    color: Theme.green
                }
            }
        }

        Rectangle { Layout.fillWidth: true; Layout.preferredHeight: 1; color: Theme.separator }

        ColumnLayout {
            spacing: 4
            Text {
                textFormat: Text.PlainText
                text: "Storage Optimization Active"
                font.pixelSize: 10
                font.weight: Font.Medium
                color: Theme.green
            }
            Repeater {
                model: ["\u2022 WebP compression enabled", "\u2022 Delta frames for static content",
                        "\u2022 Dynamic capture intervals", "\u2022 Older screenshots auto-compressed"]
                Text {
                    textFormat: Text.PlainText
                    required property string modelData
                    text: modelData
                    font.pixelSize: 9
                    color: Theme.secondary
                }
            }
        }
    }
}
