import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// A month calendar in a popup: the days that hold captures can be picked, the others are greyed.
// In day mode a pick is the day to show; in range mode two picks make a range (calendar's
// rangePicked). Arrows move the day, Enter picks, Escape closes.
Popup {
    id: picker
    required property MonthCalendarModel calendar

    padding: 14
    modal: false
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    onOpened: grid.forceActiveFocus()

    Connections {
        target: picker.calendar
        function onDayPicked() { picker.close() }
        function onRangePicked() { picker.close() }
    }

    background: Rectangle {
        radius: 10
        color: Theme.controlBackground
        border.width: 1
        border.color: Theme.black(0.15)
    }

    contentItem: ColumnLayout {
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            spacing: 4
            Text {
                objectName: "calendarTitle"
                Layout.fillWidth: true
                Layout.leftMargin: 4
                text: picker.calendar.title
                font.pixelSize: Theme.title3
                font.weight: Font.DemiBold
                color: Theme.primary
            }
            Repeater {
                model: [{ glyph: "\u2039", offset: -1, tip: qsTr("Previous month") },
                        { glyph: "\u203a", offset: 1, tip: qsTr("Next month") }]
                AbstractButton {
                    required property var modelData
                    implicitWidth: 28
                    implicitHeight: 28
                    focusPolicy: Qt.NoFocus
                    Accessible.name: modelData.tip
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: modelData.tip
                    onClicked: picker.calendar.showMonth(modelData.offset)
                    background: Rectangle {
                        radius: 6
                        color: parent.down ? Theme.black(0.12) : parent.hovered ? Theme.black(0.06) : "transparent"
                    }
                    contentItem: Text {
                        text: parent.modelData.glyph
                        font.pixelSize: 22
                        bottomPadding: 3
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        color: Theme.primary
                    }
                }
            }
        }

        Text {
            visible: picker.calendar.mode === MonthCalendarModel.Range
            Layout.leftMargin: 4
            text: picker.calendar.hasRangeStart ? qsTr("Pick the last day") : qsTr("Pick the first day")
            font.pixelSize: Theme.caption
            color: Theme.secondary
        }

        Grid {
            id: grid
            objectName: "calendarGrid"
            columns: 7
            spacing: 2
            focus: true
            Keys.onPressed: (event) => {
                if (event.key === Qt.Key_Escape) {
                    picker.close()
                    event.accepted = true
                } else {
                    event.accepted = picker.calendar.handleKey(event.key)
                }
            }

            Repeater {
                model: picker.calendar.weekdayNames
                Text {
                    required property string modelData
                    width: 34
                    height: 20
                    text: modelData
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: Theme.caption
                    font.weight: Font.DemiBold
                    color: Theme.secondary
                }
            }
            Repeater {
                model: picker.calendar
                Rectangle {
                    required property int index
                    required property string label
                    required property int dayNumber
                    required property bool inMonth
                    required property bool hasCaptures
                    required property bool isToday
                    required property bool isFocus
                    required property bool inRange
                    width: 34
                    height: 30
                    radius: 6
                    color: isFocus && grid.activeFocus ? Theme.accent
                        : inRange ? Qt.rgba(0, 0.48, 1, 0.15)
                        : cellMouse.containsMouse && hasCaptures ? Theme.black(0.06) : "transparent"
                    border.width: isToday ? 1.5 : (isFocus && !grid.activeFocus ? 1 : 0)
                    border.color: isToday ? Theme.red : Theme.accent
                    Accessible.role: Accessible.Button
                    Accessible.name: label

                    Text {
                        anchors.centerIn: parent
                        text: parent.dayNumber
                        font.pixelSize: Theme.body
                        font.weight: parent.hasCaptures ? Font.DemiBold : Font.Normal
                        color: parent.isFocus && grid.activeFocus ? "white"
                            : !parent.hasCaptures ? Theme.black(parent.inMonth ? 0.28 : 0.15)
                            : parent.inMonth ? Theme.primary : Theme.secondary
                    }
                    MouseArea {
                        id: cellMouse
                        anchors.fill: parent
                        hoverEnabled: true
                        enabled: parent.hasCaptures
                        cursorShape: parent.hasCaptures ? Qt.PointingHandCursor : Qt.ArrowCursor
                        onClicked: picker.calendar.pickCell(parent.index)
                    }
                }
            }
        }
    }
}
