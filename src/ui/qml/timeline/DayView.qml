import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// One day of captures: the frame under the playhead large, its time and application, the timeline
// bar and the applications' colours. The calendar button picks another day.
FocusScope {
    id: view
    required property DayTimelineModel timeline
    required property MonthCalendarModel calendar

    signal closeRequested()

    Keys.onEscapePressed: view.closeRequested()
    Keys.onReturnPressed: view.openCurrent()
    Keys.onEnterPressed: view.openCurrent()

    // The capture under the playhead in the viewer, among the day's captures; the day view closes.
    function openCurrent() {
        if (view.timeline.currentIndex < 0)
            return
        view.timeline.openCurrent()
        view.closeRequested()
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.windowBackground
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            PushButton {
                text: qsTr("Close")
                onClicked: view.closeRequested()
            }
            Text {
                objectName: "dayTitle"
                Layout.fillWidth: true
                text: view.timeline.dayTitle
                font.pixelSize: Theme.title2
                font.weight: Font.DemiBold
                color: Theme.primary
                elide: Text.ElideRight
            }
            PushButton {
                objectName: "openButton"
                text: qsTr("Open")
                enabled: view.timeline.currentIndex >= 0
                onClicked: view.openCurrent()
            }
            PushButton {
                id: pickDay
                objectName: "pickDayButton"
                text: qsTr("Pick a Day\u2026")
                onClicked: {
                    view.calendar.mode = MonthCalendarModel.Day
                    view.calendar.open(view.timeline.day)
                    picker.open()
                }
            }
        }

        // The frame: the thumbnail while dragging, the full frame once the playhead rests.
        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: "#1e1e1e"
            radius: 8
            clip: true

            TimelineFrame {
                id: thumbnail
                objectName: "timelineFrame"
                anchors.fill: parent
                anchors.margins: 8
                model: view.timeline
                smooth: !view.timeline.scrubbing
            }
            Image {
                id: fullFrame
                anchors.fill: thumbnail
                fillMode: Image.PreserveAspectFit
                asynchronous: true
                cache: false
                // Reloaded only once the drag is over.
                source: view.timeline.scrubbing || view.timeline.currentIndex < 0 ? "" : view.timeline.currentFrameUrl
                sourceSize: Qt.size(width, height)
                visible: status === Image.Ready
            }
            MouseArea {
                anchors.fill: parent
                onDoubleClicked: view.openCurrent()
            }
            Text {
                anchors.centerIn: parent
                visible: !thumbnail.hasFrame && !fullFrame.visible
                text: view.timeline.loading ? qsTr("Loading\u2026")
                    : view.timeline.failure.length > 0 ? qsTr("This day could not be read.")
                    : view.timeline.count === 0 ? qsTr("No captures on this day")
                    : qsTr("No preview")
                textFormat: Text.PlainText
                font.pixelSize: Theme.title3
                color: Theme.white(0.7)
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            visible: view.timeline.currentIndex >= 0
            Text {
                objectName: "currentTime"
                text: view.timeline.currentTime
                font.pixelSize: Theme.title3
                font.weight: Font.DemiBold
                color: Theme.primary
            }
            Rectangle {
                width: 10
                height: 10
                radius: 5
                color: view.timeline.currentColor
            }
            Text {
                objectName: "currentApp"
                Layout.fillWidth: true
                text: view.timeline.currentApp
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font.pixelSize: Theme.body
                color: Theme.primary
            }
            Text {
                text: qsTr("%1 of %2").arg(view.timeline.currentIndex + 1).arg(view.timeline.count)
                font.pixelSize: Theme.callout
                color: Theme.secondary
            }
        }

        TimelineBar {
            id: bar
            objectName: "timelineBar"
            Layout.fillWidth: true
            timeline: view.timeline
            focus: true
        }

        Flow {
            objectName: "timelineLegend"
            Layout.fillWidth: true
            spacing: 14
            Repeater {
                model: view.timeline.legend
                Row {
                    required property var modelData
                    spacing: 5
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 10
                        height: 10
                        radius: 2
                        color: modelData.color
                    }
                    Text {
                        text: qsTr("%1 (%2)").arg(modelData.name).arg(modelData.count)
                        textFormat: Text.PlainText
                        font.pixelSize: Theme.callout
                        color: Theme.primary
                    }
                }
            }
        }
    }

    DatePicker {
        id: picker
        objectName: "datePicker"
        calendar: view.calendar
        x: view.width - width - 16
        y: 56
        onClosed: bar.forceActiveFocus()
    }
}
