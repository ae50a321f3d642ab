import QtQuick
import QtQuick.Controls
import Pellux

// A push button of the panes: bordered white, or filled with the accent colour when prominent,
// or with red text when destructive.
Button {
    id: control
    property bool prominent: false
    property bool destructive: false

    implicitHeight: 28
    leftPadding: 14
    rightPadding: 14
    topPadding: 4
    bottomPadding: 4
    font.pixelSize: Theme.body
    Accessible.name: text

    contentItem: Text {
        text: control.text
        font: control.font
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        color: !control.enabled ? Theme.secondaryAt(0.6)
            : control.prominent ? "white"
            : control.destructive ? Theme.red
            : Theme.primary
    }

    background: Rectangle {
        radius: 6
        color: control.prominent ? (control.down ? Qt.darker(Theme.accent, 1.15) : Theme.accent)
            : (control.down ? Theme.black(0.08) : Theme.controlBackground)
        border.width: control.prominent ? 0 : 1
        border.color: Theme.black(0.15)
        opacity: control.enabled ? 1 : 0.6
    }

    HoverHandler { cursorShape: Qt.PointingHandCursor }
}
