import QtQuick
import QtQuick.Controls
import Pellux

// An on/off switch: a pill, in the accent colour when on, with a white knob.
Switch {
    id: control
    padding: 0
    spacing: 0
    implicitWidth: indicator.implicitWidth
    implicitHeight: indicator.implicitHeight

    indicator: Rectangle {
        implicitWidth: 38
        implicitHeight: 22
        x: control.leftPadding
        y: (control.height - height) / 2
        radius: height / 2
        color: control.checked ? Theme.accent : Theme.black(0.15)
        opacity: control.enabled ? 1 : 0.5
        Behavior on color { ColorAnimation { duration: 120 } }

        Rectangle {
            width: 18
            height: 18
            radius: 9
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: "white"
            border.color: Theme.black(0.1)
            Behavior on x { NumberAnimation { duration: 120 } }
        }
    }
    contentItem: null

    HoverHandler { cursorShape: Qt.PointingHandCursor }
}
