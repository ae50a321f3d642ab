import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The test-capture button and the latest captured frame, or a placeholder while there is none.
ScrollView {
    id: root
    required property DebugViewModel debugModel

    contentWidth: availableWidth
    clip: true

    ColumnLayout {
        width: root.availableWidth
        spacing: 16

        PushButton {
            id: captureButton
            objectName: "captureTestButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 16
            enabled: root.debugModel.canCaptureTest && !root.debugModel.isCapturingTest
            onClicked: root.debugModel.captureTestScreenshot()
            Accessible.name: "Capture Test Screenshot"
            contentItem: RowLayout {
                spacing: 6
                Item {
                    implicitWidth: 16
                    implicitHeight: 16
                    BusyIndicator {
                        id: spinner
                        objectName: "captureSpinner"
                        anchors.centerIn: parent
                        width: 20
                        height: 20
                        padding: 0
                        scale: 0.8
                        running: root.debugModel.isCapturingTest
                        visible: running
                        // Eight spokes fading round the circle, turning.
                        contentItem: Item {
                            id: spokes
                            Repeater {
                                model: 8
                                Rectangle {
                                    required property int index
                                    x: (spokes.width - width) / 2
                                    width: 2.5
                                    height: spokes.height * 0.3
                                    radius: width / 2
                                    color: Theme.primary
                                    opacity: 0.2 + 0.8 * index / 7
                                    transform: Rotation {
                                        origin.x: 1.25
                                        origin.y: spokes.height / 2
                                        angle: index * 45
                                    }
                                }
                            }
                            RotationAnimator on rotation {
                                from: 0
                                to: 360
                                duration: 900
                                loops: Animation.Infinite
                                running: spinner.running
                            }
                        }
                    }
                    SymbolIcon {
                        anchors.centerIn: parent
                        visible: !root.debugModel.isCapturingTest
                        name: "camera.fill"
                        size: 14
                        color: root.debugModel.canCaptureTest ? Theme.primary : Theme.secondaryAt(0.8)
                    }
                }
                Text {
                    textFormat: Text.PlainText
                    text: "Capture Test Screenshot"
                    font.pixelSize: Theme.body
                    color: parent.parent.enabled ? Theme.primary : Theme.secondaryAt(0.8)
                }
            }
        }

        Text {
            objectName: "testCaptureReason"
            textFormat: Text.PlainText
            visible: text !== ""
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            horizontalAlignment: Text.AlignHCenter
            text: root.debugModel.testCaptureUnavailableReason
            font.pixelSize: Theme.callout
            color: Theme.secondary
            wrapMode: Text.WordWrap
        }

        ColumnLayout {
            objectName: "latestCapture"
            visible: root.debugModel.hasCapture
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 16
            spacing: 8

            RowLayout {
                id: titleRow
                Layout.fillWidth: true
                Text {
                    textFormat: Text.PlainText
                    text: "Latest Capture"
                    font.pixelSize: Theme.headline
                    font.bold: true
                    color: Theme.primary
                }
                Item { Layout.fillWidth: true }
                Text {
                    textFormat: Text.PlainText
                    objectName: "captureTime"
                    text: root.debugModel.captureTimeText
                    font.pixelSize: Theme.caption
                    color: Theme.secondary
                }
            }

            Item {
                id: frameBox
                visible: root.debugModel.captureImageSource !== ""
                readonly property real aspect: root.debugModel.captureHeight > 0
                    ? root.debugModel.captureWidth / root.debugModel.captureHeight : 16 / 9
                Layout.fillWidth: true
                // At most 400 high, and low enough that the whole capture fits the view. From the
                // view's size, not the box's own: the layout sets that from this height.
                readonly property real fittingHeight: root.availableHeight - captureButton.height - titleRow.height
                    - captionRow.height - 16 * 4 - 8 * 2
                Layout.preferredHeight: Math.min(400, Math.max(200, fittingHeight), (root.availableWidth - 32) / aspect)

                Image {
                    id: frame
                    objectName: "captureImage"
                    width: Math.min(parent.width, parent.height * frameBox.aspect)
                    height: parent.height
                    source: root.debugModel.captureImageSource
                    // Twice the largest box, for sharp frames on high-density screens.
                    sourceSize: Qt.size(1600, 800)
                    fillMode: Image.PreserveAspectFit
                    asynchronous: true
                    cache: false
                    smooth: true
                    mipmap: true
                }
                // Rounds the frame's corners: the background drawn over what lies outside them.
                Rectangle {
                    anchors.fill: frame
                    anchors.margins: -6
                    radius: 14
                    color: "transparent"
                    border.width: 6
                    border.color: Theme.windowBackground
                }
                Rectangle {
                    anchors.fill: frame
                    radius: 8
                    color: "transparent"
                    border.width: 1
                    border.color: Theme.gray(0.3)
                }
            }

            RowLayout {
                id: captionRow
                spacing: 16
                RowLayout {
                    spacing: 4
                    SymbolIcon {
                        name: "aspectratio"
                        size: 14
                        Layout.preferredWidth: size
                        Layout.preferredHeight: size
                        color: Theme.secondary
                    }
                    Text {
                        textFormat: Text.PlainText
                        objectName: "captureSize"
                        text: root.debugModel.captureSizeText
                        font.pixelSize: Theme.callout
                        color: Theme.secondary
                    }
                }
                RowLayout {
                    visible: root.debugModel.framesPerSecondText !== ""
                    spacing: 4
                    SymbolIcon {
                        name: "speedometer"
                        size: 14
                        Layout.preferredWidth: size
                        Layout.preferredHeight: size
                        color: Theme.secondary
                    }
                    Text {
                        textFormat: Text.PlainText
                        objectName: "captureFPS"
                        text: root.debugModel.framesPerSecondText
                        font.pixelSize: Theme.callout
                        color: Theme.secondary
                    }
                }
            }
        }

        ColumnLayout {
            id: placeholder
            objectName: "noCapturePlaceholder"
            visible: !root.debugModel.hasCapture
            Layout.alignment: Qt.AlignHCenter
            // Centred in the view, below the button.
            Layout.topMargin: Math.max(40, (root.availableHeight - implicitHeight) / 2 - captureButton.height - 32)
            spacing: 8

            SymbolIcon {
                Layout.alignment: Qt.AlignHCenter
                Layout.bottomMargin: 4
                name: "video.slash"
                size: 48
                Layout.preferredWidth: size
                Layout.preferredHeight: size
                color: Theme.secondary
            }
            Text {
                textFormat: Text.PlainText
                Layout.alignment: Qt.AlignHCenter
                text: "No captures yet"
                font.pixelSize: Theme.body
                color: Theme.secondary
            }
            Text {
                textFormat: Text.PlainText
                Layout.alignment: Qt.AlignHCenter
                text: "Enable debug mode to see captures"
                font.pixelSize: Theme.caption
                color: Theme.secondary
            }
        }
    }
}
