import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Pellux

// One screenshot large on a dark backdrop over the whole window: wheel or pinch to zoom, drag to
// pan, double click to zoom in and back; a click on the backdrop, the close button or Escape
// closes it. While it is open the window is at least 1200 x 800 (as far as the screen allows),
// and gets its size back afterwards.
Popup {
    id: root
    objectName: "screenshotViewer"
    property string imageSource
    readonly property alias zoom: zoom
    readonly property alias image: image
    readonly property size minimumSize: Qt.size(1200, 800)
    property size restoreSize
    readonly property var hostWindow: parent ? parent.Window.window : null

    function open(model, index) {
        imageSource = model.data(model.index(index, 0), RecordingListModel.ImageSourceRole)
        zoom.reset()
        const w = hostWindow
        if (w && (w.width < minimumSize.width || w.height < minimumSize.height)
                && w.visibility !== Window.Maximized && w.visibility !== Window.FullScreen) {
            restoreSize = Qt.size(w.width, w.height)
            const available = Qt.size(parent.Screen.desktopAvailableWidth, parent.Screen.desktopAvailableHeight)
            w.width = Math.max(w.width, Math.min(minimumSize.width, available.width > 0 ? available.width : minimumSize.width))
            w.height = Math.max(w.height, Math.min(minimumSize.height, available.height > 0 ? available.height : minimumSize.height))
        } else {
            restoreSize = Qt.size(0, 0)
        }
        visible = true
    }

    function dismiss() { close() }

    onClosed: {
        imageSource = ""
        const w = hostWindow
        if (w && restoreSize.width > 0) {
            w.width = restoreSize.width
            w.height = restoreSize.height
        }
        restoreSize = Qt.size(0, 0)
    }

    parent: Overlay.overlay
    x: 0
    y: 0
    width: parent ? parent.width : 0
    height: parent ? parent.height : 0
    padding: 0
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    background: null
    Overlay.modal: Item {}
    enter: Transition { NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 150 } }
    exit: Transition { NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 120 } }

    ViewerZoom { id: zoom }

    contentItem: Item {
        id: stage

        // Backdrop: a click on it closes the viewer.
        Rectangle {
            anchors.fill: parent
            color: Theme.black(0.9)
            TapHandler { onTapped: root.dismiss() }
        }

        Item {
            id: frame
            anchors.centerIn: parent
            width: parent.width * 0.95
            height: parent.height * 0.95

            Image {
                id: image
                objectName: "viewerImage"
                // The fitted size of the image, so that only the image itself catches clicks.
                readonly property real fittedScale: implicitWidth > 0 && implicitHeight > 0
                                                   ? Math.min(frame.width / implicitWidth, frame.height / implicitHeight) : 1
                anchors.centerIn: parent
                width: implicitWidth * fittedScale
                height: implicitHeight * fittedScale
                source: root.imageSource
                asynchronous: true
                cache: false
                smooth: true
                mipmap: true
                transform: [
                    Scale {
                        origin.x: image.width / 2
                        origin.y: image.height / 2
                        xScale: zoom.scale
                        yScale: zoom.scale
                    },
                    Translate {
                        x: zoom.offset.x
                        y: zoom.offset.y
                    }
                ]

                MouseArea {
                    anchors.fill: parent
                    acceptedButtons: Qt.LeftButton
                    // A click on the image itself does nothing; only the backdrop closes.
                    onDoubleClicked: zoom.doubleClicked()
                }
                DragHandler {
                    target: null
                    dragThreshold: 10
                    onTranslationChanged: if (active) zoom.dragChanged(Qt.point(translation.x, translation.y))
                    onActiveChanged: if (!active) zoom.dragEnded()
                }
            }

            PinchHandler {
                target: null
                onScaleChanged: if (active) zoom.pinchChanged(scale)
                onActiveChanged: if (!active) zoom.pinchEnded()
            }
        }

        WheelHandler {
            acceptedDevices: PointerDevice.Mouse | PointerDevice.TouchPad
            onWheel: (event) => zoom.wheel(event.angleDelta.y)
        }

        BusyIndicator {
            anchors.centerIn: parent
            running: image.status === Image.Loading
            visible: running
        }

        Text {
            textFormat: Text.PlainText
            anchors.centerIn: parent
            visible: image.status === Image.Error
            text: "Screenshot unavailable"
            color: Theme.white(0.7)
            font.pixelSize: 15
        }

        // Close button, top right.
        Rectangle {
            objectName: "closeButton"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.margins: 16
            width: 34
            height: 34
            radius: 17
            color: Theme.black(0.5)
            SymbolIcon {
                anchors.centerIn: parent
                name: "xmark.circle.fill"
                size: 22
                color: Theme.white(0.7)
            }
            TapHandler { onTapped: root.dismiss() }
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }

        // Hint, bottom left.
        Rectangle {
            anchors.left: parent.left
            anchors.bottom: parent.bottom
            anchors.margins: 16
            width: hint.implicitWidth + 32
            height: hint.implicitHeight + 16
            radius: height / 2
            color: Theme.black(0.6)
            Text {
                textFormat: Text.PlainText
                id: hint
                anchors.centerIn: parent
                text: "Double-click to zoom \u2022 Pinch to zoom \u2022 Drag to pan \u2022 Click outside or press Esc to close"
                font.pixelSize: Theme.caption
                color: Theme.white(0.6)
            }
        }
    }
}
