import QtQuick
import QtQuick.Controls
import Pellux

// A round button beside the screenshot that shows the previous or next result.
AbstractButton {
    id: control
    property string glyph
    property string toolTip

    width: 40
    height: 40
    focusPolicy: Qt.NoFocus
    Accessible.name: toolTip
    ToolTip.visible: hovered && enabled
    ToolTip.delay: 600
    ToolTip.text: toolTip

    background: Rectangle {
        radius: width / 2
        color: !control.enabled ? Theme.white(0.04)
            : control.down ? Theme.white(0.3) : control.hovered ? Theme.white(0.2) : Theme.white(0.12)
    }
    contentItem: Text {
        text: control.glyph
        font.pixelSize: 30
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        // The glyph sits high in its line.
        bottomPadding: 4
        color: control.enabled ? Theme.white(0.9) : Theme.white(0.2)
    }

    HoverHandler { cursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor }
}
