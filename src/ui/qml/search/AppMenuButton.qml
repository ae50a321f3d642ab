import QtQuick
import QtQuick.Controls
import Pellux

// The window's menu: everything the tray menu offers, for desktops without a tray.
ToolButton {
    id: root
    objectName: "appMenuButton"
    required property AppControls controls

    implicitWidth: 32
    implicitHeight: 32
    text: "\u2630"
    font.pixelSize: 16
    Accessible.name: "Menu"
    ToolTip.visible: hovered
    ToolTip.delay: 600
    ToolTip.text: "Menu"
    onClicked: openMenu()

    // Built on the first click, and kept: the window opens without it.
    property Menu menu: null
    function openMenu() {
        if (!menu)
            menu = menuComponent.createObject(root)
        menu.open()
    }

    Component {
        id: menuComponent
        Menu {
            objectName: "appMenu"
            y: root.height

            MenuItem {
                text: root.controls && root.controls.capturing ? "Pause Screenshots" : "Resume Screenshots"
                enabled: root.controls !== null && root.controls.canCapture
                onTriggered: root.controls.togglePause()
            }
            Menu {
                title: "Pause For"
                enabled: root.controls !== null && root.controls.capturing
                MenuItem { text: "30 Minutes"; onTriggered: root.controls.pauseFor(30) }
                MenuItem { text: "1 Hour"; onTriggered: root.controls.pauseFor(60) }
                MenuItem { text: "Until Tomorrow"; onTriggered: root.controls.pauseFor(-1) }
            }
            MenuSeparator {}
            MenuItem { text: "Preferences..."; onTriggered: root.controls.showPreferences() }
            MenuItem { text: "Debug View"; onTriggered: root.controls.showDebugView() }
            MenuItem { text: "About Pellux"; onTriggered: root.controls.showAbout() }
            MenuSeparator {}
            MenuItem { text: "Quit Pellux"; onTriggered: root.controls.quit() }
        }
    }
}
