import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Pellux

// One screenshot large on a dark backdrop over the whole window. The header names the
// application, the window title and the capture time, says which occurrence of the query is
// marked and holds the actions; the footer holds the hint. The image is never enlarged beyond its
// own pixels unless zoomed: the wheel zooms, a drag pans a zoomed image, a drag at fitted size (or
// with Shift) selects an area whose text Ctrl+C copies. Left/Right show the previous/next result,
// Enter/F3 the next occurrence. Escape, the close button or a click on the backdrop closes it.
// While it is open the window is at least 1200 x 800 (as far as the screen allows).
Popup {
    id: root
    objectName: "screenshotViewer"
    property ScreenshotViewerModel model: null
    property string imageSource: model ? model.imageSource : ""
    readonly property alias zoom: zoom
    readonly property alias image: image
    readonly property alias deleteDialog: deleteDialog
    readonly property size minimumSize: Qt.size(1200, 800)
    property size restoreSize
    readonly property var hostWindow: parent ? parent.Window.window : null
    // The selected area in pixels of the frame; empty when none.
    property rect selection: Qt.rect(0, 0, 0, 0)
    readonly property bool hasSelection: selection.width > 0 && selection.height > 0

    function open(listModel, index) {
        if (model)
            model.currentIndex = index
        else
            imageSource = listModel.data(listModel.index(index, 0), RecordingListModel.ImageSourceRole)
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

    function askToDelete() {
        if (!model || !model.hasCurrent)
            return
        deleteDialog.question = model.deletionQuestion()
        deleteDialog.open()
    }

    function copy() {
        if (!model)
            return
        if (hasSelection)
            model.copyRegion(selection)
        else
            model.copyText()
    }

    // The current occurrence in view: zoomed in only when it would be too small to read.
    function focusMatch() {
        if (!model || image.status !== Image.Ready || image.implicitHeight <= 0)
            return
        const r = model.currentMatchRect
        if (r.width <= 0 || r.height <= 0)
            return
        const k = image.width / image.implicitWidth
        zoom.focusOn(Qt.rect(r.x * k, r.y * k, r.width * k, r.height * k), Qt.size(image.width, image.height))
    }

    // The text loads while the image does and the viewer fades in.
    onAboutToShow: if (model) model.active = true
    onClosed: {
        if (model)
            model.active = false
        else
            imageSource = ""
        selection = Qt.rect(0, 0, 0, 0)
        const w = hostWindow
        if (w && restoreSize.width > 0) {
            w.width = restoreSize.width
            w.height = restoreSize.height
        }
        restoreSize = Qt.size(0, 0)
    }

    Connections {
        target: root.model
        function onCurrentChanged() {
            zoom.reset()
            root.selection = Qt.rect(0, 0, 0, 0)
        }
        function onCurrentMatchChanged() { root.focusMatch() }
        function onCloseRequested() { root.close() }
        function onStatusChanged() {
            statusText.text = root.model.status
            statusTimer.restart()
        }
    }
    // A notice of what the last action did stays for a moment.
    Timer {
        id: statusTimer
        interval: 3000
        onTriggered: statusText.text = ""
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

    contentItem: FocusScope {
        id: stage
        focus: true

        Keys.onPressed: (event) => {
            const shift = (event.modifiers & Qt.ShiftModifier) !== 0
            const control = (event.modifiers & Qt.ControlModifier) !== 0
            if (event.key === Qt.Key_Left && root.model) {
                root.model.showPrevious()
            } else if (event.key === Qt.Key_Right && root.model) {
                root.model.showNext()
            } else if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_F3) && root.model) {
                if (shift)
                    root.model.previousMatch()
                else
                    root.model.nextMatch()
            } else if (event.key === Qt.Key_C && control && shift && root.model) {
                root.model.copyImage()
            } else if (event.key === Qt.Key_C && control) {
                root.copy()
            } else if (event.key === Qt.Key_O && control && shift && root.model) {
                root.model.showInFolder()
            } else if (event.key === Qt.Key_O && control && root.model) {
                root.model.open()
            } else if (event.key === Qt.Key_Delete) {
                root.askToDelete()
            } else {
                return
            }
            event.accepted = true
        }

        DeleteScreenshotDialog {
            id: deleteDialog
            onConfirmed: if (root.model) root.model.deleteCurrent()
            onClosed: stage.forceActiveFocus()
        }

        // Backdrop: a click on it closes the viewer.
        Rectangle {
            anchors.fill: parent
            color: Theme.black(0.9)
            TapHandler { onTapped: root.dismiss() }
        }

        ViewerHeader {
            id: header
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            model: root.model
            onCloseClicked: root.dismiss()
            onDeleteClicked: root.askToDelete()
        }

        // The image area between the bars, with a gutter each side for the result buttons.
        Item {
            id: frame
            objectName: "viewerFrame"
            anchors.top: header.bottom
            anchors.bottom: footer.top
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 64
            anchors.rightMargin: 64
            anchors.topMargin: 12
            anchors.bottomMargin: 12
            clip: true

            Image {
                id: image
                objectName: "viewerImage"
                readonly property real fittedScale: zoom.fittedScale(Qt.size(implicitWidth, implicitHeight),
                                                                     Qt.size(frame.width, frame.height))
                anchors.centerIn: parent
                width: implicitWidth * fittedScale
                height: implicitHeight * fittedScale
                source: root.imageSource
                asynchronous: true
                cache: false
                smooth: true
                mipmap: true
                onStatusChanged: if (status === Image.Ready) root.focusMatch()
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

                // Every occurrence of the query; the current one stronger.
                Repeater {
                    model: root.model && image.status === Image.Ready ? root.model.matchBoxes : []
                    delegate: Rectangle {
                        required property var modelData
                        readonly property real k: image.width / Math.max(1, image.implicitWidth)
                        readonly property bool isCurrent: modelData.match === root.model.currentMatch
                        objectName: "matchHighlight"
                        x: modelData.x * k - 2
                        y: modelData.y * k - 2
                        width: modelData.width * k + 4
                        height: modelData.height * k + 4
                        radius: 3
                        color: isCurrent ? Qt.rgba(1, 0.8, 0, 0.35) : Qt.rgba(1, 0.85, 0.2, 0.2)
                        border.width: isCurrent ? 2 : 1
                        border.color: isCurrent ? "#ffb300" : Qt.rgba(1, 0.75, 0, 0.7)
                    }
                }

                Rectangle {
                    objectName: "selectionRect"
                    readonly property real k: image.width / Math.max(1, image.implicitWidth)
                    visible: root.hasSelection || selecting.active
                    x: (selecting.active ? selecting.rect.x : root.selection.x) * k
                    y: (selecting.active ? selecting.rect.y : root.selection.y) * k
                    width: (selecting.active ? selecting.rect.width : root.selection.width) * k
                    height: (selecting.active ? selecting.rect.height : root.selection.height) * k
                    color: Qt.rgba(0.2, 0.5, 1, 0.18)
                    border.width: 1
                    border.color: Theme.accent
                }

                // A drag selects at fitted size or with Shift, and pans a zoomed image.
                MouseArea {
                    id: selecting
                    property bool active: false
                    property bool panning: false
                    property point start
                    property point panStart
                    property rect rect: Qt.rect(0, 0, 0, 0)
                    anchors.fill: parent
                    acceptedButtons: Qt.LeftButton
                    cursorShape: panning ? Qt.ClosedHandCursor : (zoom.scale > 1 ? Qt.OpenHandCursor : Qt.CrossCursor)
                    function toImage(x, y) {
                        const k = image.implicitWidth / Math.max(1, image.width)
                        return Qt.point(Math.max(0, Math.min(image.implicitWidth, x * k)),
                                        Math.max(0, Math.min(image.implicitHeight, y * k)))
                    }
                    onPressed: (mouse) => {
                        stage.forceActiveFocus()
                        if (zoom.scale > 1 && !(mouse.modifiers & Qt.ShiftModifier)) {
                            panning = true
                            panStart = mapToItem(stage, mouse.x, mouse.y)
                        } else {
                            start = toImage(mouse.x, mouse.y)
                            rect = Qt.rect(start.x, start.y, 0, 0)
                        }
                    }
                    onPositionChanged: (mouse) => {
                        if (panning) {
                            const p = mapToItem(stage, mouse.x, mouse.y)
                            zoom.dragChanged(Qt.point(p.x - panStart.x, p.y - panStart.y))
                            return
                        }
                        const p = toImage(mouse.x, mouse.y)
                        rect = Qt.rect(Math.min(start.x, p.x), Math.min(start.y, p.y),
                                       Math.abs(p.x - start.x), Math.abs(p.y - start.y))
                        active = rect.width > 3 || rect.height > 3
                    }
                    onReleased: {
                        if (panning) {
                            panning = false
                            zoom.dragEnded()
                        } else if (active) {
                            root.selection = rect
                            active = false
                        } else {
                            root.selection = Qt.rect(0, 0, 0, 0)
                        }
                    }
                    onDoubleClicked: zoom.doubleClicked()
                }
            }
        }

        WheelHandler {
            acceptedDevices: PointerDevice.Mouse | PointerDevice.TouchPad
            onWheel: (event) => zoom.wheel(event.angleDelta.y)
        }
        PinchHandler {
            target: null
            onScaleChanged: if (active) zoom.pinchChanged(scale)
            onActiveChanged: if (!active) zoom.pinchEnded()
        }

        ViewerStepButton {
            objectName: "previousResultButton"
            anchors.left: parent.left
            anchors.leftMargin: 12
            anchors.verticalCenter: frame.verticalCenter
            glyph: "\u2039"
            toolTip: "Previous result (\u2190)"
            enabled: root.model ? root.model.hasPrevious : false
            onClicked: root.model.showPrevious()
        }
        ViewerStepButton {
            objectName: "nextResultButton"
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: frame.verticalCenter
            glyph: "\u203a"
            toolTip: "Next result (\u2192)"
            enabled: root.model ? root.model.hasNext : false
            onClicked: root.model.showNext()
        }

        BusyIndicator {
            anchors.centerIn: frame
            running: image.status === Image.Loading || (root.model !== null && root.model.deleting)
            visible: running
        }

        Text {
            textFormat: Text.PlainText
            anchors.centerIn: frame
            visible: image.status === Image.Error
            text: "Screenshot unavailable"
            color: Theme.white(0.7)
            font.pixelSize: 15
        }

        // The hint and what the last action did, below the image.
        Rectangle {
            id: footer
            objectName: "viewerFooter"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 34
            color: Theme.black(0.55)
            Text {
                textFormat: Text.PlainText
                id: hint
                objectName: "viewerHint"
                anchors.left: parent.left
                anchors.leftMargin: 16
                anchors.right: statusText.left
                anchors.rightMargin: 16
                anchors.verticalCenter: parent.verticalCenter
                elide: Text.ElideRight
                text: "Scroll to zoom \u2022 Drag to select text, Ctrl+C copies it (Shift+drag when zoomed) \u2022 "
                      + "Drag to pan when zoomed \u2022 Double-click to zoom \u2022 \u2190 \u2192 results \u2022 Esc closes"
                font.pixelSize: Theme.caption
                color: Theme.white(0.6)
            }
            Text {
                id: statusText
                objectName: "viewerStatus"
                anchors.right: parent.right
                anchors.rightMargin: 16
                anchors.verticalCenter: parent.verticalCenter
                textFormat: Text.PlainText
                font.pixelSize: Theme.caption
                color: Theme.white(0.85)
            }
        }
    }
}
