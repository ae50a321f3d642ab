import QtQuick
import QtQuick.Layouts
import Pellux

// A row of mutually exclusive segments; the selected one is raised.
Rectangle {
    id: root
    property var segments: []
    property int currentIndex: 0
    signal activated(int index)

    implicitHeight: 30
    radius: 8
    color: Theme.gray(0.16)
    Accessible.role: Accessible.PageTabList

    RowLayout {
        anchors.fill: parent
        anchors.margins: 2
        spacing: 2

        Repeater {
            model: root.segments
            delegate: Rectangle {
                id: segment
                required property int index
                required property string modelData
                readonly property bool selected: index === root.currentIndex

                objectName: "segment" + index
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
                radius: 6
                color: selected ? Theme.controlBackground : (hover.hovered ? Theme.white(0.45) : "transparent")
                border.width: selected ? 1 : 0
                border.color: Theme.black(0.08)
                Accessible.role: Accessible.PageTab
                Accessible.name: modelData
                Accessible.checked: selected

                Text {
                    textFormat: Text.PlainText
                    anchors.centerIn: parent
                    text: segment.modelData
                    font.pixelSize: Theme.body
                    font.weight: segment.selected ? Font.DemiBold : Font.Normal
                    color: segment.selected ? Theme.primary : Theme.secondaryAt(1.4)
                }
                HoverHandler { id: hover }
                TapHandler { onTapped: root.activated(segment.index) }
            }
        }
    }
}
