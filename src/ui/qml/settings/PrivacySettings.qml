import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The screen-recording permission and the applications never captured.
SettingsPane {
    id: root
    required property SettingsModel settings
    signal chooseApplications()

    FormSection {
        title: "Screen Recording Permission"
        // While capture works, only that; the way to the settings only when it cannot.
        RowLayout {
            objectName: "screenReadable"
            visible: root.settings.canReadScreen
            Layout.fillWidth: true
            Layout.margins: 12
            spacing: 8
            SymbolIcon {
                Layout.preferredWidth: size
                Layout.preferredHeight: size
                name: "checkmark.circle.fill"
                size: 22
                color: Theme.green
            }
            Text {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                text: "Pellux can read your screen"
                font.pixelSize: Theme.body
                color: Theme.primary
                wrapMode: Text.WordWrap
            }
        }
        ColumnLayout {
            objectName: "permissionNeeded"
            visible: !root.settings.canReadScreen
            Layout.fillWidth: true
            Layout.margins: 12
            spacing: 8
            RowLayout {
                spacing: 8
                SymbolIcon {
                    Layout.preferredWidth: size
                    Layout.preferredHeight: size
                    name: "exclamationmark.shield"
                    size: 22
                    color: Theme.orange
                }
                Text {
                    textFormat: Text.PlainText
                    Layout.fillWidth: true
                    text: "Pellux requires screen recording permission to function"
                    font.pixelSize: Theme.body
                    color: Theme.primary
                    wrapMode: Text.WordWrap
                }
            }
            Text {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                text: "If you're having trouble granting permission, click the button below to open the correct settings."
                font.pixelSize: Theme.caption
                color: Theme.secondary
                wrapMode: Text.WordWrap
            }
            PushButton {
                Layout.topMargin: 4
                text: "Open Screen Recording Settings"
                prominent: true
                onClicked: root.settings.openPrivacySettings()
            }
        }
    }

    FormSection {
        title: "Excluded Applications"
        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 12
            spacing: 12
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Text {
                    textFormat: Text.PlainText
                    Layout.fillWidth: true
                    text: "Choose apps to exclude from capture"
                    font.pixelSize: Theme.callout
                    color: Theme.primary
                }
                Text {
                    textFormat: Text.PlainText
                    objectName: "excludedCaption"
                    Layout.fillWidth: true
                    text: root.settings.excludedCaption
                    font.pixelSize: Theme.caption
                    color: Theme.secondary
                }
            }
            PushButton {
                objectName: "chooseButton"
                text: "Choose..."
                onClicked: root.chooseApplications()
            }
        }
        Rectangle {
            visible: chips.count > 0
            Layout.fillWidth: true
            Layout.leftMargin: 12
            Layout.preferredHeight: 1
            color: Theme.separator
        }
        ListView {
            id: chips
            objectName: "excludedChips"
            visible: count > 0
            Layout.fillWidth: true
            Layout.preferredHeight: 24
            Layout.topMargin: 8
            Layout.bottomMargin: 10
            orientation: ListView.Horizontal
            spacing: 12
            leftMargin: 12
            rightMargin: 12
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: root.settings.excludedChips
            delegate: ExcludedAppChip {
                required property var modelData
                name: modelData.name
                iconSource: modelData.iconSource
                onRemove: root.settings.removeExcluded(modelData.bundleIdentifier)
            }
        }
    }
}
