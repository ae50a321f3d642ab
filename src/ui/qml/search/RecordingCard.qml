import QtQuick
import QtQuick.Layouts
import Pellux

// One result: the screenshot, the application, how long ago, and the window title.
Item {
    id: root
    required property int index
    required property string imageSource
    required property string appName
    required property string windowTitle
    required property string relativeTime
    property bool isSelected: false
    signal opened()
    // A right click: the card's menu, at this point of the card.
    signal menuRequested(real x, real y)

    CardBackground {
        anchors.fill: parent
        isSelected: root.isSelected
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        ScreenshotPreview {
            Layout.fillWidth: true
            Layout.preferredHeight: width / 1.6
            source: root.imageSource
            onClicked: if (loaded) root.opened()
        }

        RecordingMetadata {
            Layout.fillWidth: true
            Layout.fillHeight: true
            appName: root.appName
            windowTitle: root.windowTitle
            relativeTime: root.relativeTime
        }
    }

    // Above the preview, which takes only the primary button.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.RightButton
        onClicked: (mouse) => root.menuRequested(mouse.x, mouse.y)
    }
}
