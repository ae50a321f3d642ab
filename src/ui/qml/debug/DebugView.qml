import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The debug window: debug mode, clearing, and three tabs of what the capture pipeline reports.
ApplicationWindow {
    id: window
    required property QtObject debug
    required property DebugViewModel debugModel
    required property QtObject storage
    property int selectedTab: 0

    width: 800
    height: 600
    minimumWidth: 800
    maximumWidth: 800
    minimumHeight: 600
    maximumHeight: 600
    title: "Debug View"
    color: Theme.windowBackground

    // Closing the window forgets the tab and the search; it opens again as new.
    onClosing: {
        selectedTab = 0
        debugModel.searchText = ""
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 12
            Layout.topMargin: 10
            Layout.bottomMargin: 10
            spacing: 12

            Text {
                textFormat: Text.PlainText
                text: "Debug View"
                font.pixelSize: Theme.headline
                font.bold: true
                color: Theme.primary
            }
            Item { Layout.fillWidth: true }
            ToggleSwitch {
                id: debugModeSwitch
                objectName: "debugModeSwitch"
                text: "Enable Debug Mode"
                checked: window.debug.isDebugMode
                onToggled: window.debug.isDebugMode = checked
            }
            Text {
                textFormat: Text.PlainText
                text: debugModeSwitch.text
                font.pixelSize: Theme.body
                color: Theme.primary
                TapHandler {
                    onTapped: {
                        debugModeSwitch.toggle()
                        debugModeSwitch.toggled()
                    }
                }
            }
            ToolButton {
                objectName: "clearButton"
                onClicked: window.debug.clearDebugData()
                Accessible.name: "Clear"
                contentItem: RowLayout {
                    spacing: 5
                    SymbolIcon {
                        name: "trash"
                        size: 16
                        Layout.preferredWidth: size
                        Layout.preferredHeight: size
                        color: Theme.primary
                    }
                    Text {
                        textFormat: Text.PlainText
                        text: "Clear"
                        font.pixelSize: Theme.body
                        color: Theme.primary
                    }
                }
            }
        }

        Divider {}

        SegmentedControl {
            objectName: "tabPicker"
            Layout.fillWidth: true
            Layout.margins: 12
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            segments: ["Live Capture", "OCR Results", "Performance"]
            currentIndex: window.selectedTab
            onActivated: (index) => window.selectedTab = index
        }

        Divider {}

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: window.selectedTab

            LiveCaptureView {
                debugModel: window.debugModel
            }
            OCRResultsView {
                debugModel: window.debugModel
            }
            PerformanceView {
                debug: window.debug
                debugModel: window.debugModel
                storage: window.storage
            }
        }
    }
}
