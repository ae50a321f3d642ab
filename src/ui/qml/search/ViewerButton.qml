import QtQuick
import QtQuick.Controls
import Pellux

// A button of the screenshot viewer's dark bars: light text on a translucent ground, its
// shortcut in the tooltip.
Button {
    id: control
    property string shortcutText
    property bool destructive: false

    implicitHeight: 30
    leftPadding: 12
    rightPadding: 12
    focusPolicy: Qt.TabFocus
    font.pixelSize: Theme.body
    Accessible.name: text
    ToolTip.visible: hovered && shortcutText.length > 0
    ToolTip.delay: 600
    ToolTip.text: shortcutText

    contentItem: Text {
        text: control.text
        textFormat: Text.PlainText
        font: control.font
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: !control.enabled ? Theme.white(0.3)
            : control.destructive ? "#ff8a80"
            : Theme.white(0.9)
    }

    background: Rectangle {
        radius: 6
        color: control.down ? Theme.white(0.22) : control.hovered ? Theme.white(0.14) : Theme.white(0.08)
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.accent
    }

    HoverHandler { cursorShape: Qt.PointingHandCursor }
}
