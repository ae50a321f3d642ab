import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The running applications to choose exclusions from, in a dialog above the preferences window.
Window {
    id: root
    required property SettingsModel settings

    width: 500
    height: 600
    minimumWidth: 500
    maximumWidth: 500
    minimumHeight: 600
    maximumHeight: 600
    flags: Qt.Dialog
    modality: Qt.WindowModal
    title: "Choose Applications to Exclude"
    color: Theme.controlBackground
    // Applications started while the sheet is open join the list.
    onVisibleChanged: root.settings.setPickerShown(visible)

    function open() {
        show()
        raise()
        requestActivate()
        field.forceActiveFocus()
    }

    Shortcut {
        sequences: ["Return", "Enter", "Escape"]
        onActivated: root.close()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Text {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            Layout.margins: 16
            Layout.bottomMargin: 12
            text: "Choose Applications to Exclude"
            font.pixelSize: Theme.headline
            font.weight: Font.Bold
            color: Theme.primary
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 12
            implicitHeight: fieldRow.implicitHeight + 16
            radius: 8
            color: Theme.gray(0.1)

            RowLayout {
                id: fieldRow
                anchors.fill: parent
                anchors.margins: 8
                spacing: 6
                SymbolIcon {
                    Layout.preferredWidth: size
                    Layout.preferredHeight: size
                    name: "magnifyingglass"
                    size: 16
                    color: Theme.secondary
                }
                TextField {
                    id: field
                    objectName: "pickerSearchField"
                    Layout.fillWidth: true
                    background: null
                    padding: 0
                    font.pixelSize: Theme.body
                    color: Theme.primary
                    placeholderText: "Search"
                    placeholderTextColor: Theme.secondary
                    selectByMouse: true
                    text: root.settings.searchText
                    onTextEdited: root.settings.searchText = text
                    onAccepted: root.close()
                }
            }
        }

        Rectangle { Layout.fillWidth: true; Layout.preferredHeight: 1; color: Theme.separator }

        ListView {
            id: list
            objectName: "pickerList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: root.settings.pickerApplications
            ScrollBar.vertical: ScrollBar { }
            delegate: AppRowItem {
                required property string bundleIdentifier
                required name
                required iconSource
                required isExcluded
                width: ListView.view.width
                onToggle: root.settings.pickApplication(bundleIdentifier)
            }

            Text {
                textFormat: Text.PlainText
                anchors.centerIn: parent
                visible: list.count === 0
                text: root.settings.searchText.length > 0 ? "No applications match" : "No running applications"
                font.pixelSize: Theme.body
                color: Theme.secondary
            }
        }

        Rectangle { Layout.fillWidth: true; Layout.preferredHeight: 1; color: Theme.separator }

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 16
            Layout.topMargin: 12
            Layout.bottomMargin: 12
            Text {
                textFormat: Text.PlainText
                objectName: "excludedCountText"
                Layout.fillWidth: true
                text: root.settings.excludedCountText
                font.pixelSize: Theme.callout
                color: Theme.secondary
            }
            PushButton {
                text: "Done"
                prominent: true
                onClicked: root.close()
            }
        }
    }
}
