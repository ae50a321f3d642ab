import QtQuick

// An icon by its symbol name, drawn in one colour from the freedesktop icon theme.
Image {
    id: icon
    property string name
    property color color: "black"
    property int size: 16

    width: size
    height: size
    fillMode: Image.PreserveAspectFit
    smooth: true
    sourceSize: Qt.size(size * 2, size * 2)
    source: name.length ? "image://symbol/" + name + "?color=" + encodeURIComponent(Qt.rgba(color.r, color.g, color.b, 1).toString()) : ""
    opacity: color.a
}
