import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The steps to grant the screen-recording permission, shown after the permission alert sent the
// user to the settings.
Popup {
    id: root
    objectName: "permissionInstructions"
    required property QtObject viewModel
    required property WindowActions actions
    readonly property bool granted: viewModel !== null && viewModel.hasScreenRecordingPermission

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 500
    height: 400
    modal: true
    focus: true
    padding: 40
    closePolicy: Popup.CloseOnEscape
    background: Rectangle {
        radius: 12
        color: "white"
        border.color: Theme.gray(0.2)
    }

    Connections {
        target: root.actions
        function onPermissionChecked(granted) {
            if (granted && root.visible)
                root.close()
        }
    }

    contentItem: ColumnLayout {
        spacing: 20

        Text {
            textFormat: Text.PlainText
            Layout.alignment: Qt.AlignHCenter
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            text: "Enable Screen Recording Permission"
            font.pixelSize: 20
            font.bold: true
            color: Theme.primary
        }

        ColumnLayout {
            Layout.alignment: Qt.AlignHCenter
            spacing: 15
            Repeater {
                // The desktop's own steps (under X11: the settings to open).
                model: root.actions.permissionSteps
                RowLayout {
                    required property string modelData
                    required property int index
                    spacing: 8
                    // The icon themes have no numbered circles: the step's number on a filled circle.
                    Rectangle {
                        implicitWidth: 18
                        implicitHeight: 18
                        radius: 9
                        color: Theme.accent
                        Text {
                            textFormat: Text.PlainText
                            anchors.centerIn: parent
                            text: index + 1
                            color: "white"
                            font.pixelSize: 11
                            font.bold: true
                        }
                    }
                    Text {
                        // A step that names a command can be long: it wraps inside the sheet.
                        Layout.maximumWidth: root.availableWidth - 26
                        wrapMode: Text.Wrap
                        textFormat: Text.PlainText
                        text: modelData
                        font.pixelSize: Theme.body
                        color: Theme.primary
                    }
                }
            }
        }

        RowLayout {
            objectName: "permissionGranted"
            Layout.alignment: Qt.AlignHCenter
            visible: root.granted
            spacing: 6
            SymbolIcon {
                name: "checkmark.circle.fill"
                size: 16
                color: Theme.green
            }
            Text {
                textFormat: Text.PlainText
                text: "Permission Granted!"
                font.pixelSize: Theme.headline
                font.bold: true
                color: Theme.green
            }
        }

        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            spacing: 12
            Button {
                objectName: "checkPermissionButton"
                text: "Check Permission"
                highlighted: true
                palette.button: Theme.accent
                palette.buttonText: "white"
                palette.highlight: Theme.accent
                onClicked: root.actions.checkPermission()
            }
            Button {
                objectName: "closePermissionButton"
                text: "Close"
                onClicked: root.close()
            }
        }
    }
}
