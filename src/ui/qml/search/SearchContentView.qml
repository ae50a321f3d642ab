import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The area below the search bar: the blank slate, "Searching...", the length hint, "No results
// found", the failure of the search or the results grid, as the search model's state says. A quick search does not flash the
// progress state over results already shown: it appears after a short delay.
FocusScope {
    id: root
    required property SearchModel search
    readonly property int columns: search.timelineMode ? timeline.columns : grid.columns
    signal typed(var event)
    signal leaveResults()
    signal clearQuery()

    function focusResults() { (search.timelineMode ? timeline : grid).forceActiveFocus() }
    // Enter in the search field: the newest result, once the results of this query are shown.
    function openTopHit() {
        if (search.contentState === SearchModel.Results)
            grid.openViewer(0)
    }

    property int shownState: search.contentState
    readonly property bool searchingNow: search.contentState === SearchModel.Searching
    onSearchingNowChanged: {
        if (!searchingNow) {
            progressDelay.stop()
            shownState = search.contentState
        } else if (shownState === SearchModel.Results || shownState === SearchModel.NoResults
                   || shownState === SearchModel.Failed) {
            progressDelay.restart()
        } else {
            shownState = SearchModel.Searching
        }
    }
    Connections {
        target: root.search
        function onRevealed(row) { grid.openViewer(row) }
        function onContentStateChanged() {
            if (!root.searchingNow)
                root.shownState = root.search.contentState
        }
    }
    Timer {
        id: progressDelay
        interval: 250
        onTriggered: root.shownState = root.search.contentState
    }

    BlankSlateView {
        anchors.fill: parent
        visible: root.shownState === SearchModel.BlankSlate
        recordingCount: root.search.recordingCount
    }

    ColumnLayout {
        objectName: "searchingState"
        anchors.centerIn: parent
        visible: root.shownState === SearchModel.Searching
        spacing: 8
        BusyIndicator {
            Layout.alignment: Qt.AlignHCenter
            running: parent.visible
        }
        Text {
            textFormat: Text.PlainText
            Layout.alignment: Qt.AlignHCenter
            text: "Searching..."
            font.pixelSize: 13
            color: Theme.secondary
        }
    }

    MinimumCharactersView {
        anchors.fill: parent
        visible: root.shownState === SearchModel.MinimumCharacters
    }

    NoResultsView {
        anchors.fill: parent
        visible: root.shownState === SearchModel.NoResults
    }

    SearchFailedView {
        anchors.fill: parent
        visible: root.shownState === SearchModel.Failed
        failure: root.search.failure
    }

    SearchResultsGrid {
        id: grid
        anchors.fill: parent
        visible: root.shownState === SearchModel.Results && !root.search.timelineMode
        search: root.search
        focusAfterPopup: root.search.timelineMode ? timeline : grid
        onTyped: (event) => root.typed(event)
        onLeaveResults: root.leaveResults()
        onClearQuery: root.clearQuery()
    }

    TimelineView {
        id: timeline
        anchors.fill: parent
        visible: root.shownState === SearchModel.Results && root.search.timelineMode
        search: root.search
        grid: grid
        onTyped: (event) => root.typed(event)
        onLeaveResults: root.leaveResults()
        onClearQuery: root.clearQuery()
    }
}
