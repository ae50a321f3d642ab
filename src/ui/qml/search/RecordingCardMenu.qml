import QtQuick
import QtQuick.Controls
import Pellux

// The right-click menu of a result card: the viewer's actions on that screenshot (the card is
// selected first, and the actions act on the selected result).
Menu {
    id: root
    objectName: "recordingCardMenu"
    property ScreenshotViewerModel model: null
    signal deleteRequested()

    MenuItem {
        objectName: "menuOpen"
        text: "Open"
        enabled: root.model !== null && root.model.hasCurrent
        onTriggered: root.model.open()
    }
    MenuItem {
        objectName: "menuCopyText"
        text: "Copy Text"
        enabled: root.model !== null && root.model.textKnown
        onTriggered: root.model.copyText()
    }
    MenuItem {
        objectName: "menuCopyImage"
        text: "Copy Image"
        enabled: root.model !== null && root.model.hasCurrent
        onTriggered: root.model.copyImage()
    }
    MenuItem {
        objectName: "menuShowInFolder"
        text: "Show in Folder"
        enabled: root.model !== null && root.model.hasCurrent
        onTriggered: root.model.showInFolder()
    }
    MenuSeparator {}
    MenuItem {
        objectName: "menuDelete"
        text: "Delete\u2026"
        enabled: root.model !== null && root.model.hasCurrent && !root.model.deleting
        onTriggered: root.deleteRequested()
    }
}
