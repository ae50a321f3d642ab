import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The screenshot of a card, fitted into a 16:10 area with rounded corners; a spinner while it
// loads, a note when it cannot be shown, and an expand symbol under the pointer.
Item {
    id: root
    property url source
    readonly property bool loaded: image.status === Image.Ready
    property bool isHovered: hover.hovered
    signal clicked()

    Rectangle {
        anchors.fill: parent
        color: Theme.gray(0.05)
    }

    Image {
        id: image
        anchors.fill: parent
        // The request waits for the laid-out size: before it, the source size would be empty or
        // half-known and the provider would decode the full frame for nothing.
        source: width > 0 && height > 0 ? root.source : ""
        asynchronous: true
        cache: false
        fillMode: Image.PreserveAspectFit
        // Decoded at the size shown, never at full size.
        sourceSize: Qt.size(Math.ceil(width * Screen.devicePixelRatio), Math.ceil(height * Screen.devicePixelRatio))
        smooth: true
        onStatusChanged: if (status !== Image.Loading) root.slowToLoad = false
    }

    // The spinner and the note exist only while they show: a grid builds many cards at once.
    // The spinner waits a moment: a thumbnail comes in milliseconds, and a spinner on every new
    // card would only flash (and make each card's first frame build and animate it).
    property bool slowToLoad: false
    Timer {
        interval: 300
        running: image.status === Image.Loading
        onTriggered: root.slowToLoad = true
    }
    Loader {
        anchors.centerIn: parent
        active: root.slowToLoad && image.status === Image.Loading
        sourceComponent: BusyIndicator {
            scale: 0.8
            running: true
        }
    }

    Loader {
        anchors.centerIn: parent
        active: image.status === Image.Error
        sourceComponent: ColumnLayout {
            objectName: "unavailable"
            spacing: 6
            SymbolIcon {
                Layout.alignment: Qt.AlignHCenter
                name: "exclamationmark.triangle"
                size: 20
                color: Theme.secondaryAt(0.6)
            }
            Text {
                textFormat: Text.PlainText
                text: "Screenshot unavailable"
                font.pixelSize: 12
                color: Theme.secondary
            }
        }
    }

    // The expand symbol, made when the pointer first comes over a loaded screenshot: a grid
    // builds many cards at once, and most are never pointed at.
    readonly property bool offersExpand: loaded && isHovered
    property bool pointedAt: false
    onOffersExpandChanged: if (offersExpand) pointedAt = true
    Loader {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 12
        active: root.pointedAt
        sourceComponent: Rectangle {
            objectName: "expandSymbol"
            width: 46
            height: 46
            radius: width / 2
            color: Theme.black(0.6)
            opacity: root.offersExpand ? 1 : 0
            Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
            SymbolIcon {
                anchors.centerIn: parent
                name: "arrow.up.left.and.arrow.down.right"
                size: 22
                color: "white"
            }
        }
    }

    // Rounds the corners to a radius of 10: a frame in the card's colour whose inner edge is the
    // rounded outline, cut to the preview.
    Item {
        anchors.fill: parent
        clip: true
        Rectangle {
            anchors.fill: parent
            anchors.margins: -10
            radius: 20
            color: "transparent"
            border.width: 10
            border.color: "white"
        }
    }

    HoverHandler {
        id: hover
        cursorShape: root.loaded ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
    TapHandler { onTapped: root.clicked() }
}
