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
    // Where the keyboard goes back to when the viewer or a dialog closes.
    property Item focusAfterPopup: root

    readonly property int minimumColumnWidth: 280
    readonly property int columnSpacing: 10
    readonly property int rowSpacing: 12
    readonly property int horizontalPadding: 20
    readonly property int columns: Math.max(1, Math.floor((width - 2 * horizontalPadding + columnSpacing)
                                                          / (minimumColumnWidth + columnSpacing)))
    readonly property real cardWidth: (width - 2 * horizontalPadding + columnSpacing) / columns - columnSpacing
    // The preview's 16:10 area and the three or four lines of text below it.
    readonly property real cardHeight: cardWidth / 1.6 + 96

    // The viewer's state and actions (made by the search window; absent in component tests).
    readonly property ScreenshotViewerModel viewerModel: typeof screenshotViewer !== "undefined" ? screenshotViewer : null

    function openViewer(row) {
        if (row < 0 || row >= search.results.count)
            return
        search.selectedIndex = row
        built("viewer", viewerComponent).open(search.results, row)
    }
    // The card's menu acts on the selected result: the card is selected first.
    function showCardMenu(row, card, x, y) {
        if (row < 0 || row >= search.results.count || !viewerModel)
            return
        search.selectedIndex = row
        built("cardMenu", cardMenuComponent).popup(card, x, y)
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
    // The timeline shows the same cards in day rows, without this grid.
    model: search.timelineMode ? null : search.results
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

    // The first row is shown with the margin above it, which positioning at an index leaves out.
    function showTop() {
        forceLayout()
        contentY = originY - topMargin
    }
    onCurrentIndexChanged: {
        if (currentIndex >= columns)
            positionViewAtIndex(currentIndex, GridView.Contain)
        else if (currentIndex >= 0)
            showTop()
    }
    // A new answer keeps the cards of the recordings it still holds, and the view keeps a kept
    // card in place when newer ones come in above it: without a selection to follow, the answer
    // is shown from its newest card.
    Connections {
        target: root.search
        function onResultsShown() {
            if (!root.search.timelineMode && root.search.selectedIndex < 0)
                root.showTop()
        }
    }

    delegate: RecordingCard {
        id: card
        width: root.cardWidth
        height: root.cardHeight
        isSelected: index === root.search.selectedIndex
        onOpened: root.openViewer(index)
        onSimilarToggled: root.search.toggleSimilar(index)
        onMenuRequested: (x, y) => root.showCardMenu(index, card, x, y)
    }

    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            openViewer(search.selectedIndex)
            event.accepted = true
        } else if (event.key === Qt.Key_Menu || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
            const card = itemAtIndex(search.selectedIndex)
            if (card)
                showCardMenu(search.selectedIndex, card, 20, 20)
            event.accepted = true
        } else if (event.key === Qt.Key_Delete && viewerModel && search.selectedIndex >= 0) {
            askDeletion()
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

    // The viewer, the card's menu and the deletion question are built when first needed and then
    // kept: the window opens without them, and they took a quarter of its opening.
    property ScreenshotExpandedView viewer: null
    property RecordingCardMenu cardMenu: null
    property DeleteScreenshotDialog cardDeleteDialog: null
    function built(name, component) {
        if (!root[name])
            root[name] = component.createObject(root)
        return root[name]
    }
    Component {
        id: viewerComponent
        ScreenshotExpandedView {
            model: root.viewerModel
            onClosed: root.focusAfterPopup.forceActiveFocus()
        }
    }
    Component {
        id: cardMenuComponent
        RecordingCardMenu {
            model: root.viewerModel
            onAboutToShow: if (root.viewerModel) root.viewerModel.active = true
            onClosed: if (root.viewerModel && !(root.viewer && root.viewer.visible)) root.viewerModel.active = false
            onDeleteRequested: root.askDeletion()
        }
    }
    Component {
        id: deleteDialogComponent
        DeleteScreenshotDialog {
            function ask() {
                question = root.viewerModel.deletionQuestion()
                open()
            }
            onConfirmed: root.viewerModel.deleteCurrent()
            onClosed: root.focusAfterPopup.forceActiveFocus()
        }
    }
    function askDeletion() { built("cardDeleteDialog", deleteDialogComponent).ask() }
}
