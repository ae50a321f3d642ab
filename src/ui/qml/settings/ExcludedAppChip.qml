import QtQuick
import QtQuick.Layouts
import Pellux

// An excluded application that is running: its icon, its name and a button that takes it off the
// list.
Rectangle {
    id: root
    property string name
    property string iconSource
    signal remove()

    implicitWidth: row.implicitWidth + 20
    implicitHeight: row.implicitHeight + 8
    radius: 12
    color: Theme.windowBackground
    Accessible.name: name

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 6
        AppIcon {
            size: 16
            source: root.iconSource
            fallbackSymbol: "app.fill"
        }
        Text {
            textFormat: Text.PlainText
            text: Format.name(root.name)
            font.pixelSize: Theme.caption
            color: Theme.primary
        }
        SymbolIcon {
            objectName: "removeChip"
            Layout.preferredWidth: size
            Layout.preferredHeight: size
            name: "xmark.circle.fill"
            size: 16
            // Full strength while the pointer is over the chip.
            color: hover.hovered ? Theme.secondary : Theme.secondaryAt(0.6)
            Accessible.role: Accessible.Button
            Accessible.name: "Remove " + root.name
            TapHandler { onTapped: root.remove() }
        }
    }
    HoverHandler { id: hover }
}
