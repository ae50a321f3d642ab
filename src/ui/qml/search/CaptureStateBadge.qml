import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// Whether Pellux is recording, beside the search field: a green dot while it records, and while
// paused a grey one with a Resume button, so the state never has to be read off a tray icon.
Rectangle {
    id: root
    objectName: "captureState"
    required property AppControls controls
    readonly property bool recording: controls !== null && controls.capturing

    implicitWidth: row.implicitWidth + 20
    implicitHeight: 32
    radius: 16
    color: recording ? Qt.rgba(0.2, 0.65, 0.3, 0.12) : Theme.gray(0.08)

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 6

        Rectangle {
            width: 8
            height: 8
            radius: 4
            color: root.recording ? Theme.green : Theme.gray(0.45)
        }
        Text {
            textFormat: Text.PlainText
            objectName: "captureStateText"
            text: root.controls ? root.controls.stateText : ""
            font.pixelSize: 12
            color: Theme.primary
        }
        Text {
            textFormat: Text.PlainText
            objectName: "resumeButton"
            visible: root.controls !== null && !root.recording && root.controls.canCapture
            text: "Resume"
            font.pixelSize: 12
            font.weight: Font.DemiBold
            color: Theme.accent
            TapHandler { onTapped: root.controls.resume() }
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }
    }

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered
    ToolTip.delay: 600
    ToolTip.text: root.recording ? "Capture follows your activity: more often while you work, less while you are away."
                                 : "Nothing is being recorded."
}
