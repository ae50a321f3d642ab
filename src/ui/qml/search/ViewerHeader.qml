import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The viewer's top bar: the application, the window title and the capture time on the left; the
// occurrence of the query marked ("2 of 5") with its step buttons, the actions and the close
// button on the right.
Rectangle {
    id: root
    property ScreenshotViewerModel model: null
    signal closeClicked()
    signal deleteClicked()

    height: 60
    color: Theme.black(0.55)

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 12
        spacing: 10

        Image {
            Layout.preferredWidth: 28
            Layout.preferredHeight: 28
            source: root.model && root.model.appName.length > 0
                    ? "image://appicon/" + encodeURIComponent(root.model.appName) : ""
            sourceSize: Qt.size(56, 56)
            asynchronous: true
            visible: status === Image.Ready
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.minimumWidth: 120
            spacing: 2
            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                Text {
                    objectName: "viewerAppName"
                    text: root.model ? Format.name(root.model.appName) : ""
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    Layout.maximumWidth: 240
                    font.pixelSize: Theme.title3
                    font.weight: Font.DemiBold
                    color: Theme.white(0.95)
                }
                Text {
                    objectName: "viewerCaptureTime"
                    Layout.fillWidth: true
                    text: root.model ? root.model.captureTime : ""
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.pixelSize: Theme.callout
                    color: Theme.white(0.6)
                }
            }
            Text {
                objectName: "viewerWindowTitle"
                Layout.fillWidth: true
                visible: text.length > 0
                text: root.model ? Format.name(root.model.windowTitle) : ""
                // A title is data: never read as markup.
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font.pixelSize: Theme.body
                color: Theme.white(0.8)
            }
        }

        // Which occurrence of the query is marked, and stepping through them.
        RowLayout {
            visible: root.model !== null && root.model.matchCount > 0
            spacing: 4
            Text {
                textFormat: Text.PlainText
                objectName: "viewerMatchPosition"
                text: root.model ? root.model.matchPosition : ""
                font.pixelSize: Theme.body
                font.weight: Font.Medium
                color: "#ffd54f"
                rightPadding: 4
            }
            ViewerButton {
                text: "\u25b4"
                shortcutText: "Previous match (Shift+Enter, Shift+F3)"
                Accessible.name: "Previous match"
                onClicked: root.model.previousMatch()
            }
            ViewerButton {
                text: "\u25be"
                shortcutText: "Next match (Enter, F3)"
                Accessible.name: "Next match"
                onClicked: root.model.nextMatch()
            }
        }

        Rectangle { Layout.preferredWidth: 1; Layout.preferredHeight: 28; color: Theme.white(0.15) }

        ViewerButton {
            objectName: "copyTextButton"
            text: "Copy Text"
            shortcutText: "Ctrl+C (the selected area's text when one is selected)"
            enabled: root.model !== null && root.model.textKnown
            onClicked: root.model.copyText()
        }
        ViewerButton {
            objectName: "copyImageButton"
            text: "Copy Image"
            shortcutText: "Ctrl+Shift+C"
            enabled: root.model !== null && root.model.hasCurrent
            onClicked: root.model.copyImage()
        }
        ViewerButton {
            objectName: "openButton"
            text: "Open"
            shortcutText: "Ctrl+O"
            enabled: root.model !== null && root.model.hasCurrent
            onClicked: root.model.open()
        }
        ViewerButton {
            objectName: "showInFolderButton"
            text: "Show in Folder"
            shortcutText: "Ctrl+Shift+O"
            enabled: root.model !== null && root.model.hasCurrent
            onClicked: root.model.showInFolder()
        }
        ViewerButton {
            objectName: "deleteButton"
            text: "Delete"
            destructive: true
            shortcutText: "Delete"
            enabled: root.model !== null && root.model.hasCurrent && !root.model.deleting
            onClicked: root.deleteClicked()
        }

        // Close button.
        Rectangle {
            objectName: "closeButton"
            Layout.preferredWidth: 34
            Layout.preferredHeight: 34
            Layout.leftMargin: 4
            radius: 17
            color: closeHover.hovered ? Theme.white(0.15) : "transparent"
            SymbolIcon {
                anchors.centerIn: parent
                name: "xmark.circle.fill"
                size: 22
                color: Theme.white(0.8)
            }
            TapHandler { onTapped: root.closeClicked() }
            HoverHandler { id: closeHover; cursorShape: Qt.PointingHandCursor }
        }
    }
}
