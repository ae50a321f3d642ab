import QtQuick
import QtQuick.Controls
import Pellux

// One day along the hours: a tick per capture in its application's colour, hour marks, and the
// playhead. Dragging scrubs through the day; the keys step by capture, by hour and to the ends.
FocusScope {
    id: bar
    required property DayTimelineModel timeline
    // Hour labels keep at least this much room each; the others are left out.
    readonly property int labelStep: {
        const perHour = track.width / 24
        return perHour >= 30 ? 1 : perHour >= 15 ? 2 : perHour >= 10 ? 3 : 6
    }

    implicitHeight: 64
    activeFocusOnTab: true
    Accessible.role: Accessible.Slider
    Accessible.name: qsTr("Timeline of %1").arg(timeline.dayTitle)

    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            timeline.openCurrent()
            event.accepted = true
        } else {
            event.accepted = timeline.handleKey(event.key)
        }
    }

    Rectangle {
        id: track
        objectName: "timelineTrack"
        anchors { left: parent.left; right: parent.right; top: parent.top; topMargin: 8 }
        height: 30
        radius: 4
        color: Theme.black(0.05)
        border.width: bar.activeFocus ? 2 : 1
        border.color: bar.activeFocus ? Theme.accent : Theme.black(0.12)

        TimelineTicks {
            objectName: "timelineTicks"
            anchors.fill: parent
            anchors.margins: 3
            model: bar.timeline
        }

        // The hour lines, over the ticks so the hours read where captures are dense.
        Repeater {
            model: bar.timeline.hourMarks
            Rectangle {
                required property var modelData
                x: 3 + modelData.fraction * (track.width - 6)
                width: 1
                height: track.height
                color: Theme.white(0.6)
                visible: modelData.hour > 0 && modelData.hour < 24
            }
        }

        Rectangle {
            id: playhead
            objectName: "playhead"
            visible: bar.timeline.currentIndex >= 0
            x: 3 + bar.timeline.currentFraction * (track.width - 6) - width / 2
            y: -5
            width: 3
            height: track.height + 10
            radius: 1.5
            color: Theme.primary
            Rectangle {
                anchors.horizontalCenter: parent.horizontalCenter
                y: -3
                width: 11
                height: 11
                radius: 5.5
                color: Theme.primary
                border.width: 2
                border.color: "white"
            }
        }

        MouseArea {
            id: scrubArea
            anchors.fill: parent
            hoverEnabled: true
            preventStealing: true
            function fraction(x) { return Math.max(0, Math.min(1, (x - 3) / (track.width - 6))) }
            onPressed: (mouse) => {
                bar.forceActiveFocus()
                bar.timeline.scrubbing = true
                bar.timeline.scrubTo(fraction(mouse.x))
            }
            onPositionChanged: (mouse) => {
                if (pressed)
                    bar.timeline.scrubTo(fraction(mouse.x))
            }
            onReleased: bar.timeline.scrubbing = false
            onCanceled: bar.timeline.scrubbing = false
            onDoubleClicked: bar.timeline.openCurrent()
        }

        // The capture under the pointer; an application's name is shown as plain text.
        ToolTip {
            id: tip
            parent: scrubArea
            x: Math.max(0, Math.min(track.width - width, scrubArea.mouseX - width / 2))
            y: -height - 6
            visible: scrubArea.containsMouse && !scrubArea.pressed && bar.timeline.count > 0
            delay: 300
            text: bar.timeline.describe(bar.timeline.indexAt(scrubArea.fraction(scrubArea.mouseX)))
            contentItem: Text {
                text: tip.text
                textFormat: Text.PlainText
                font.pixelSize: Theme.callout
                color: Theme.primary
            }
        }
    }

    Repeater {
        model: bar.timeline.hourMarks
        Text {
            required property var modelData
            visible: modelData.hour % bar.labelStep === 0
            x: Math.max(0, Math.min(bar.width - width, 3 + modelData.fraction * (track.width - 6) - width / 2))
            anchors.top: track.bottom
            anchors.topMargin: 4
            text: modelData.label
            font.pixelSize: Theme.caption
            color: Theme.secondary
        }
    }
}
