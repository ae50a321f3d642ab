import QtQuick
import QtQuick.Layouts
import Pellux

// One running application in the picker: a click anywhere on the row toggles its exclusion.
Rectangle {
    id: root
    property string name
    property string iconSource
    property bool isExcluded: false
    signal toggle()

    implicitHeight: row.implicitHeight + 16
    color: hover.hovered ? Theme.black(0.04) : "transparent"
    Accessible.role: Accessible.CheckBox
    Accessible.name: name
    Accessible.checked: isExcluded

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 8
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        spacing: 12
        AppIcon {
            size: 32
            source: root.iconSource
            fallbackSymbol: "app"
        }
        Text {
            Layout.fillWidth: true
            text: root.name
            font.pixelSize: Theme.body
            color: Theme.primary
            elide: Text.ElideRight
        }
        SymbolIcon {
            objectName: "exclusionMark"
            Layout.preferredWidth: size
            Layout.preferredHeight: size
            name: root.isExcluded ? "checkmark.circle.fill" : "circle"
            size: 22
            color: root.isExcluded ? Theme.accent : Theme.secondary
        }
    }

    HoverHandler {
        id: hover
        cursorShape: Qt.PointingHandCursor
    }
    TapHandler { onTapped: root.toggle() }
}
