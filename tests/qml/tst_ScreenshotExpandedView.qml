import QtQuick
import QtTest
import Pellux

// The viewer over its backdrop: a click beside the image closes it, one on the image does not, and
// the image takes the double click and the wheel. (The zoom's own rules: the viewer test.)
Item {
    id: root
    width: 1200
    height: 800

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
