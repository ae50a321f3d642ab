import QtQuick
import QtQuick.Controls
import Pellux

// A menu of choices, bordered and rounded like the panes' buttons.
ComboBox {
    id: control
    implicitHeight: 28
    font.pixelSize: Theme.body
    leftPadding: 10

    background: Rectangle {
        radius: 6
        color: control.down ? Theme.black(0.06) : Theme.controlBackground
        border.color: control.visualFocus ? Theme.accent : Theme.black(0.15)
    }

    HoverHandler { cursorShape: Qt.PointingHandCursor }
}
