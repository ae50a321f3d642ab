import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The preferences window: the sections in a sidebar, the chosen pane beside it, "Done" above.
ApplicationWindow {
    id: window
    required property SettingsModel settings
    required property QtObject storage
    readonly property var currentSection: settings.sections[settings.selectedSection]

    width: 800
    height: 500
    minimumWidth: 800
    maximumWidth: 800
    minimumHeight: 500
    maximumHeight: 500
    title: "Preferences"
    color: Theme.windowBackground

    Shortcut {
        sequence: "Ctrl+Escape"
        onActivated: window.close()
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            objectName: "sidebar"
            Layout.preferredWidth: 200
            Layout.fillHeight: true
            color: "#e2e2e4"

            ListView {
                id: sidebar
                anchors.fill: parent
                anchors.topMargin: 16
                anchors.leftMargin: 10
                anchors.rightMargin: 10
                spacing: 2
                interactive: false
                model: window.settings.sections
                currentIndex: window.settings.selectedSection
                delegate: Rectangle {
                    id: sectionRow
                    required property var modelData
                    required property int index
                    readonly property bool isSelected: ListView.isCurrentItem
                    width: ListView.view.width
                    height: 32
                    radius: 6
                    color: isSelected ? Theme.accent : (hover.hovered ? Theme.black(0.06) : "transparent")
                    Accessible.role: Accessible.PageTab
                    Accessible.name: modelData.title

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 10
                        anchors.rightMargin: 10
                        spacing: 8
                        SymbolIcon {
                            Layout.preferredWidth: size
                            Layout.preferredHeight: size
                            name: sectionRow.modelData.icon
                            size: 18
                            color: sectionRow.isSelected ? "white" : Theme.accent
                        }
                        Text {
                            textFormat: Text.PlainText
                            Layout.fillWidth: true
                            text: sectionRow.modelData.title
                            font.pixelSize: Theme.body
                            color: sectionRow.isSelected ? "white" : Theme.primary
                        }
                    }
                    HoverHandler { id: hover }
                    TapHandler { onTapped: window.settings.selectedSection = sectionRow.index }
                }
            }
        }

        Rectangle {
            Layout.preferredWidth: 1
            Layout.fillHeight: true
            color: Theme.separator
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            // The toolbar: the pane's title and "Done".
            RowLayout {
                Layout.fillWidth: true
                Layout.preferredHeight: 52
                Layout.leftMargin: 24
                Layout.rightMargin: 16
                spacing: 12
                Text {
                    textFormat: Text.PlainText
                    objectName: "paneTitle"
                    Layout.fillWidth: true
                    text: window.currentSection.title
                    font.pixelSize: Theme.title2
                    font.weight: Font.Bold
                    color: Theme.primary
                }
                PushButton {
                    objectName: "doneButton"
                    text: "Done"
                    onClicked: window.close()
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 1
                color: Theme.separator
            }

            StackLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                currentIndex: window.settings.selectedSection

                GeneralSettings { settings: window.settings }
                PrivacySettings {
                    settings: window.settings
                    onChooseApplications: picker.open()
                }
                StorageSettings {
                    settings: window.settings
                    storage: window.storage
                }
                AboutSettings { settings: window.settings }
            }
        }
    }

    AppPickerSheet {
        id: picker
        objectName: "appPicker"
        settings: window.settings
    }
}
