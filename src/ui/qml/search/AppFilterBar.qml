import QtQuick
import Pellux

// "All Apps" and one chip per application, scrolling sideways when they do not fit.
ListView {
    id: root
    required property SearchModel search

    orientation: ListView.Horizontal
    spacing: 8
    implicitHeight: 30
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    model: [""].concat(search.uniqueApps)

    delegate: FilterChip {
        required property string modelData
        title: modelData.length ? modelData : "All Apps"
        iconSource: modelData.length && typeof applicationIcons !== "undefined" && applicationIcons.ready
                    && applicationIcons.hasApplicationIcon(modelData)
                    ? "image://appicon/" + encodeURIComponent(modelData) : ""
        isSelected: root.search.selectedApp === modelData
        onClicked: modelData.length ? root.search.toggleApp(modelData) : (root.search.selectedApp = "")
    }
}
