import QtQuick
import QtQuick.Controls
import Pellux

// The results as cards in as many columns of at least 280 as fit, newest first. Arrow keys move
// the selection, Enter opens the selected card, Escape clears the query.
GridView {
    id: root
    objectName: "resultsGrid"
    required property SearchModel search
    signal typed(var event)
    signal leaveResults()
    signal clearQuery()

    readonly property int minimumColumnWidth: 280
    readonly property int columnSpacing: 10
    readonly property int rowSpacing: 12
    readonly property int horizontalPadding: 20
    readonly property int columns: Math.max(1, Math.floor((width - 2 * horizontalPadding + columnSpacing)
                                                          / (minimumColumnWidth + columnSpacing)))
    readonly property real cardWidth: (width - 2 * horizontalPadding + columnSpacing) / columns - columnSpacing
    // The preview's 16:10 area and the three or four lines of text below it.
    readonly property real cardHeight: cardWidth / 1.6 + 96

    function openViewer(row) {
        if (row < 0 || row >= count)
            return
        search.selectedIndex = row
        viewer.open(search.results, row)
    }

    leftMargin: horizontalPadding
    rightMargin: horizontalPadding - columnSpacing
    topMargin: 12
    bottomMargin: 12
    cellWidth: cardWidth + columnSpacing
    cellHeight: cardHeight + rowSpacing
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    keyNavigationEnabled: false
    currentIndex: search.selectedIndex
    highlightFollowsCurrentItem: false
    // Cards a little outside the view are built ahead, so scrolling does not wait for them.
    cacheBuffer: cellHeight * 2
    model: search.results
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

    onCurrentIndexChanged: if (currentIndex >= 0) positionViewAtIndex(currentIndex, GridView.Contain)

    delegate: RecordingCard {
        width: root.cardWidth
        height: root.cardHeight
        isSelected: index === root.search.selectedIndex
        onOpened: root.openViewer(index)
        onSimilarToggled: root.search.toggleSimilar(index)
    }

    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            openViewer(search.selectedIndex)
            event.accepted = true
        } else if (event.key === Qt.Key_Escape) {
            clearQuery()
            event.accepted = true
        } else if (search.navigate(event.key, columns)) {
            event.accepted = true
            if (search.selectedIndex < 0)
                leaveResults()
        } else {
            typed(event)
        }
    }

    ScreenshotExpandedView {
        id: viewer
        onClosed: root.forceActiveFocus()
    }
    readonly property alias viewer: viewer
}
