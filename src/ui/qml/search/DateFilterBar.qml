import QtQuick
import Pellux

// The date filters: a chip per preset range and "Pick a range…", which asks for the days, and
// "Day view", which opens one day along the timeline bar (Ctrl+D).
ListView {
    id: root
    objectName: "dateFilterBar"
    required property SearchModel search

    orientation: ListView.Horizontal
    spacing: 8
    implicitHeight: 30
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    model: [
        { name: "today", title: "Today" },
        { name: "yesterday", title: "Yesterday" },
        { name: "last7", title: "Last 7 days" },
        { name: "last30", title: "Last 30 days" },
        { name: "range", title: "Pick a range\u2026" },
        { name: "day", title: "Day view" },
    ]

    delegate: FilterChip {
        required property var modelData
        title: modelData.name === "range" && root.search.dateFilter === "range" ? root.search.rangeLabel
                                                                                 : modelData.title
        isSelected: root.search.dateFilter === modelData.name
        onClicked: root.search.toggleDateFilter(modelData.name)
    }
}
