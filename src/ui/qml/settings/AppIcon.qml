import QtQuick
import Pellux

// An application's icon from its desktop entry, or a symbol in the secondary colour when it has
// none.
Item {
    id: root
    property string source
    property string fallbackSymbol: "app"
    property int size: 16

    implicitWidth: size
    implicitHeight: size

    Image {
        id: image
        anchors.fill: parent
        source: root.source
        asynchronous: true
        smooth: true
        fillMode: Image.PreserveAspectFit
        sourceSize: Qt.size(root.size * 2, root.size * 2)
        visible: status === Image.Ready
    }
    SymbolIcon {
        anchors.centerIn: parent
        size: root.size
        name: root.fallbackSymbol
        color: Theme.secondary
        visible: image.status === Image.Error || root.source.length === 0
    }
}
