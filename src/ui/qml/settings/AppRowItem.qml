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
            textFormat: Text.PlainText
            Layout.fillWidth: true
            text: Format.name(root.name)
            font.pixelSize: Theme.body
            color: Theme.primary
            elide: Text.ElideRight
        }
        // A filled accent circle with a check mark when excluded, an empty ring otherwise.
        Rectangle {
            objectName: "exclusionMark"
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            radius: 10
            color: root.isExcluded ? Theme.accent : "transparent"
            border.width: root.isExcluded ? 0 : 1.5
            border.color: Theme.secondaryAt(0.7)
            SymbolIcon {
                anchors.centerIn: parent
                visible: root.isExcluded
                name: "checkmark.circle.fill"
                size: 14
                color: "white"
            }
        }
    }

    HoverHandler {
        id: hover
        cursorShape: Qt.PointingHandCursor
    }
    TapHandler { onTapped: root.toggle() }
}
