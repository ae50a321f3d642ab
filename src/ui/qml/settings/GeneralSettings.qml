import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// How often to capture, and whether Pellux starts with the session.
SettingsPane {
    id: root
    required property SettingsModel settings

    FormSection {
        FormRow {
            label: "Screenshot interval"
            SettingsComboBox {
                objectName: "intervalPicker"
                Layout.preferredWidth: 180
                model: root.settings.intervalOptions
                textRole: "label"
                currentIndex: root.settings.intervalIndex
                // The model may keep or take back the choice: the menu keeps following it.
                onActivated: (index) => {
                    root.settings.chooseInterval(index)
                    currentIndex = Qt.binding(() => root.settings.intervalIndex)
                }
            }
        }
        Text {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            Layout.leftMargin: 12
            Layout.rightMargin: 12
            Layout.bottomMargin: 10
            objectName: "intervalCaption"
            text: root.settings.intervalCaption
            font.pixelSize: Theme.callout
            color: Theme.secondary
            wrapMode: Text.WordWrap
        }
    }

    FormSection {
        FormRow {
            label: "Start Pellux at login"
            ToggleSwitch {
                objectName: "startAtLoginSwitch"
                checked: root.settings.startAtLogin
                onToggled: {
                    root.settings.startAtLogin = checked
                    checked = Qt.binding(() => root.settings.startAtLogin)
                }
                Accessible.name: "Start Pellux at login"
            }
        }
    }
}
