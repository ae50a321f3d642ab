import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The strip at the bottom of the search window: disk use, the number of screenshots, clean-up.
Rectangle {
    id: root
    objectName: "storageToolbar"
    required property QtObject storage
    required property QtObject optimizer
    required property WindowActions actions
    property bool isHovering: false
    property bool showingStorageDetails: false
    onShowingStorageDetailsChanged: if (showingStorageDetails) storageDetails.active = true
    readonly property real storageUsed: storage ? storage.storageUsed : 0
    readonly property int recordingCount: storage ? storage.recordingCount : 0

    color: Qt.rgba(Theme.windowBackground.r, Theme.windowBackground.g, Theme.windowBackground.b, 0.95)

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 0.5
        color: Theme.separator
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 12

        Item {
            id: storageButton
            objectName: "storageButton"
            implicitWidth: storageRow.implicitWidth
            implicitHeight: storageRow.implicitHeight
            RowLayout {
                id: storageRow
                spacing: 6
                SymbolIcon {
                    name: "internaldrive.fill"
                    size: 11
                    color: Format.storageColor(root.storageUsed)
                }
                Text {
                    textFormat: Text.PlainText
                    text: Format.bytes(root.storageUsed)
                    font.pixelSize: 11
                    font.weight: Font.Medium
                    color: Theme.primary
                }
                Text {
                    textFormat: Text.PlainText
                    text: "used"
                    font.pixelSize: 11
                    color: Theme.secondary
                }
            }
            TapHandler { onTapped: root.showingStorageDetails = !root.showingStorageDetails }
            HoverHandler { cursorShape: Qt.PointingHandCursor }

            // Built the first time it is shown, and kept: most windows never show it.
            Loader {
                id: storageDetails
                active: false
                sourceComponent: StorageDetailsView {
                    parent: storageButton
                    storage: root.storage
                    optimizer: root.optimizer
                    visible: root.showingStorageDetails
                    onClosed: root.showingStorageDetails = false
                    x: 0
                    y: -height - 6
                }
            }
        }

        Rectangle {
            Layout.preferredWidth: 1
            Layout.preferredHeight: 14
            color: Theme.separator
        }

        RowLayout {
            spacing: 6
            SymbolIcon {
                name: "photo.on.rectangle.angled"
                size: 11
                color: Theme.secondary
            }
            Text {
                textFormat: Text.PlainText
                objectName: "screenshotCount"
                text: root.recordingCount
                font.pixelSize: 11
                font.weight: Font.Medium
                color: Theme.primary
            }
            Text {
                textFormat: Text.PlainText
                text: "screenshots"
                font.pixelSize: 11
                color: Theme.secondary
            }
        }

        Item { Layout.fillWidth: true }

        Item {
            objectName: "cleanUpButton"
            implicitWidth: cleanupRow.implicitWidth
            implicitHeight: cleanupRow.implicitHeight
            readonly property color tint: root.isHovering ? Theme.red : Theme.secondary
            RowLayout {
                id: cleanupRow
                spacing: 4
                SymbolIcon {
                    name: "trash"
                    size: 11
                    color: parent.parent.tint
                }
                Text {
                    textFormat: Text.PlainText
                    text: "Clean Up"
                    font.pixelSize: 11
                    color: parent.parent.tint
                }
            }
            HoverHandler {
                cursorShape: Qt.PointingHandCursor
                onHoveredChanged: root.isHovering = hovered
            }
            TapHandler { onTapped: root.actions.showCleanupOptions() }
        }
    }
}
