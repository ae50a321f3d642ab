import QtQuick
import QtQuick.Controls
import Pellux

ApplicationWindow {
    id: window
    required property QtObject viewModel
    required property SearchModel search
    required property QtObject storage
    required property QtObject optimizer
    required property WindowActions actions
    // Pause, preferences, quit...: null where the window runs without the application (tests).
    property AppControls controls: null
    // Shown in a bar above the content until the user closes it.
    property string notice: ""
    // What the first start's sheet says, and whether it is still owed.
    property FirstRun firstRun: null
    // The day view's models (Ctrl+D); null where the window runs without them.
    property DayTimelineModel dayTimeline: null
    property MonthCalendarModel monthCalendar: null

    width: 800
    height: 600
    minimumWidth: 800
    minimumHeight: 600
    title: "Pellux"
    color: "white"

    header: NoticeBar {
        objectName: "noticeBar"
        text: window.notice
        visible: window.notice.length > 0
        onDismissed: window.notice = ""
    }

    // Without a tray, closing the window would leave Pellux recording with nothing on screen.
    onClosing: (close) => {
        if (controls && !controls.confirmClose(window))
            close.accepted = false
    }

    Shortcut {
        sequence: "Ctrl+,"
        enabled: window.controls !== null
        onActivated: window.controls.showPreferences()
    }
    Shortcut {
        sequence: "Ctrl+Q"
        enabled: window.controls !== null
        onActivated: window.controls.quit()
    }
    Shortcut {
        sequence: "Ctrl+P"
        enabled: window.controls !== null && window.controls.canCapture
        onActivated: window.controls.togglePause()
    }
    Shortcut {
        sequence: "Ctrl+W"
        onActivated: window.close()
    }

    // The calendar in range mode, for the date filter: its pick is monthCalendar's rangePicked.
    function pickDateRange() {
        monthCalendar.mode = MonthCalendarModel.Range
        monthCalendar.open()
        if (!rangePicker)
            rangePicker = rangePickerComponent.createObject(window.contentItem)
        rangePicker.open()
    }

    Connections {
        target: window.search
        enabled: window.monthCalendar !== null
        function onRangePickRequested() { window.pickDateRange() }
        function onDayViewRequested() { dayView.active = true }
    }

    Shortcut {
        sequence: "Ctrl+D"
        enabled: window.dayTimeline !== null
        onActivated: dayView.active = !dayView.active
    }

    ContentView {
        id: content
        anchors.fill: parent
        viewModel: window.viewModel
        search: window.search
        storage: window.storage
        optimizer: window.optimizer
        actions: window.actions
        controls: window.controls
    }

    // One day's captures along a timeline bar, over the search content.
    Loader {
        id: dayView
        objectName: "dayView"
        anchors.fill: parent
        active: false
        sourceComponent: DayView {
            timeline: window.dayTimeline
            calendar: window.monthCalendar
            onCloseRequested: dayView.active = false
        }
        onLoaded: {
            window.dayTimeline.showToday()
            item.forceActiveFocus()
        }
    }

    // Built when first asked for, as the results' viewer and menus are.
    property DatePicker rangePicker: null
    Component {
        id: rangePickerComponent
        DatePicker {
            objectName: "rangePicker"
            calendar: window.monthCalendar
            x: (window.width - width) / 2
            y: 70
        }
    }

    // Built only while the first start is pending.
    Loader {
        active: window.firstRun !== null && window.firstRun.pending
        sourceComponent: FirstRunSheet {
            firstRun: window.firstRun
        }
    }
}
