import QtQuick
import QtQuick.Shapes

// Covers what lies outside a rounded corner in the colour behind it; unrotated it is the top-left
// corner, turned by 90, 180 or 270 degrees the other three.
Shape {
    id: root
    property real radius: 10
    property color color: "white"

    width: radius
    height: radius
    transformOrigin: Item.Center

    ShapePath {
        fillColor: root.color
        strokeColor: "transparent"
        startX: 0
        startY: 0
        PathLine { x: root.radius; y: 0 }
        PathArc {
            x: 0
            y: root.radius
            radiusX: root.radius
            radiusY: root.radius
            direction: PathArc.Counterclockwise
        }
        PathLine { x: 0; y: 0 }
    }
}
