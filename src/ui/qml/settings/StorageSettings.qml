import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// Disk use, how long screenshots are kept, and deleting them.
SettingsPane {
    id: root
    required property SettingsModel settings
    required property QtObject storage

    FormSection {
        title: "Storage"
        FormRow {
            label: "Storage used"
            Text {
                textFormat: Text.PlainText
                objectName: "storageUsed"
                text: Format.bytes(root.storage ? root.storage.storageUsed : 0)
                font.pixelSize: Theme.body
                font.weight: Font.Medium
                color: Theme.primary
            }
        }
        FormRow {
            label: "Total screenshots"
            divider: true
            Text {
                textFormat: Text.PlainText
                objectName: "recordingCount"
                text: root.storage ? root.storage.recordingCount : 0
                font.pixelSize: Theme.body
                font.weight: Font.Medium
                color: Theme.primary
            }
        }
    }

    FormSection {
        title: "Data Retention"
        FormRow {
            label: "Keep screenshots for"
            SettingsComboBox {
                objectName: "retentionPicker"
                Layout.preferredWidth: 180
                model: root.settings.retentionOptions
                textRole: "label"
                currentIndex: root.settings.retentionIndex
                onActivated: (index) => {
                    root.settings.chooseRetention(index)
                    currentIndex = Qt.binding(() => root.settings.retentionIndex)
                }
            }
        }
        FormRow {
            divider: true
            PushButton {
                objectName: "deleteOldButton"
                text: "Delete Old Screenshots"
                // Nothing is old while screenshots are kept forever.
                enabled: !root.settings.isDeleting && root.settings.keepsForever === false
                onClicked: root.settings.deleteOldRecordings()
            }
            Item { Layout.fillWidth: true }
        }
    }

    FormSection {
        FormRow {
            PushButton {
                objectName: "deleteAllButton"
                text: "Delete All Data..."
                destructive: true
                enabled: !root.settings.isDeleting
                onClicked: root.settings.requestDeleteAll()
            }
            Item { Layout.fillWidth: true }
        }
    }
}
