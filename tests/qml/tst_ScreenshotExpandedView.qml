import QtQuick
import QtTest
import Pellux

// The viewer's zoom and pan: limits, springs back, double click, wheel, and the ways it closes.
Item {
    id: root
    width: 1200
    height: 800

    ViewerZoom { id: zoom }

    TestCase {
        name: "ViewerZoom"

        function init() { zoom.reset() }

        function test_pinchLimits_data() {
            return [
                { tag: "beyond the maximum", magnifications: [2, 4, 8], during: 5, after: 5 },
                { tag: "below the minimum", magnifications: [0.7, 0.3, 0.1], during: 0.5, after: 1 },
                { tag: "a zoom in", magnifications: [1.5], during: 1.5, after: 1.5 },
            ]
        }

        function test_pinchLimits(data) {
            for (const m of data.magnifications)
                zoom.pinchChanged(m)
            fuzzyCompare(zoom.scale, data.during, 1e-9)
            zoom.pinchEnded()
            fuzzyCompare(zoom.scale, data.after, 1e-9)
        }

        function test_releaseBelowOneRecentresButKeepsTheLastDrag() {
            zoom.dragChanged(Qt.point(30, 40))
            zoom.dragEnded()
            zoom.pinchChanged(0.6)
            zoom.pinchEnded()
            compare(zoom.offset, Qt.point(0, 0))
            // The next drag starts where the previous drag ended.
            zoom.dragChanged(Qt.point(5, 5))
            compare(zoom.offset, Qt.point(35, 45))
        }

        function test_doubleClickZoomsAndResets() {
            zoom.dragChanged(Qt.point(10, 0))
            zoom.dragEnded()
            zoom.doubleClicked()
            compare(zoom.scale, 2)
            compare(zoom.offset, Qt.point(10, 0))
            zoom.doubleClicked()
            compare(zoom.scale, 1)
            compare(zoom.offset, Qt.point(0, 0))
            zoom.dragChanged(Qt.point(3, 4))
            compare(zoom.offset, Qt.point(3, 4))
        }

        function test_wheel() {
            for (let i = 0; i < 20; ++i)
                zoom.wheel(120)
            compare(zoom.scale, 5)
            zoom.dragChanged(Qt.point(50, 0))
            for (let i = 0; i < 20; ++i)
                zoom.wheel(-120)
            compare(zoom.scale, 1)
            compare(zoom.offset, Qt.point(0, 0))
        }
    }

    Rectangle {
        id: host
        anchors.fill: parent

        ScreenshotExpandedView { id: viewer }

        TestCase {
            name: "ScreenshotExpandedView"
            when: windowShown

            function init() {
                viewer.imageSource = ""
                viewer.zoom.reset()
                viewer.visible = true
                tryCompare(viewer, "opened", true)
            }

            function cleanup() { viewer.close(); tryCompare(viewer, "visible", false) }

            function test_escapeCloses() {
                keyClick(Qt.Key_Escape)
                tryCompare(viewer, "visible", false)
            }

            function test_backdropClickCloses() {
                mouseClick(host, 5, 5)
                tryCompare(viewer, "visible", false)
            }

            function test_wheelAndDoubleClickOnTheImage() {
                viewer.imageSource = "image://symbol/camera.viewfinder"
                tryCompare(viewer.image, "status", Image.Ready)
                const image = viewer.image
                mouseDoubleClickSequence(image, image.width / 2, image.height / 2)
                compare(viewer.zoom.scale, 2)
                // A click on the image itself does not close the viewer.
                mouseClick(image, image.width / 2, image.height / 2)
                wait(300)
                verify(viewer.visible)
                mouseWheel(host, 600, 400, 0, 120)
                verify(viewer.zoom.scale > 2)
            }
        }
    }
}
