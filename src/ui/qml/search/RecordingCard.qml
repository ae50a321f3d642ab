import QtQuick
import Pellux

// One result: the screenshot, the application, how long ago, the window title and the matched line.
Item {
    id: root
    required property int index
    required property string imageSource
    required property string appName
    required property string windowTitle
    required property string relativeTime
    required property string absoluteTime
    required property string snippet
    required property int similarCount
    required property bool expanded
    property bool isSelected: false
    signal opened()
    signal similarToggled()

    Accessible.description: absoluteTime
    // A right click: the card's menu, at this point of the card.
    signal menuRequested(real x, real y)

    CardBackground {
        anchors.fill: parent
    }

    ScreenshotPreview {
        id: preview
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: width / 1.6
        source: root.imageSource
        onClicked: if (loaded) root.opened()
    }

    RecordingMetadata {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: preview.bottom
        anchors.bottom: parent.bottom
        appName: root.appName
        windowTitle: root.windowTitle
        relativeTime: root.relativeTime
        absoluteTime: root.absoluteTime
        snippet: root.snippet
        similarCount: root.similarCount
        expanded: root.expanded
        onSimilarToggled: root.similarToggled()
    }

    // The selection's black outline, over the preview's rounded corners.
    Rectangle {
        anchors.fill: parent
        visible: root.isSelected
        radius: 12
        color: "transparent"
        border.width: 2
        border.color: "black"
    }

    // Above the preview, which takes only the primary button.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.RightButton
        onClicked: (mouse) => root.menuRequested(mouse.x, mouse.y)
    }
}
