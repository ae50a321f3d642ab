import QtQuick
import QtQuick.Controls
import Pellux

// The timeline: every screenshot newest first, in rows under a header per day ("Today",
// "Yesterday", then the date), a page loaded at a time as the list nears its end. The cards are
// the search model's results, so selection, the viewer, the menu and deletion are the results
// grid's, which this view hands them to.
ListView {
    id: root
    objectName: "timeline"
    required property SearchModel search
    required property var grid
    signal typed(var event)
    signal leaveResults()
    signal clearQuery()

    readonly property int columnSpacing: grid.columnSpacing
    readonly property int horizontalPadding: grid.horizontalPadding
    readonly property int columns: Math.max(1, Math.floor((width - 2 * horizontalPadding + columnSpacing)
                                                          / (grid.minimumColumnWidth + columnSpacing)))
    readonly property real cardWidth: (width - 2 * horizontalPadding + columnSpacing) / columns - columnSpacing
    readonly property real cardHeight: cardWidth / 1.6 + 96

    onColumnsChanged: search.timelineRows.columns = columns
    Component.onCompleted: search.timelineRows.columns = columns

    function cardItem(card) {
        const row = itemAtIndex(search.timelineRows.rowOfCard(card))
        return row ? row.cardAt(card - row.first) : null
    }

    model: search.timelineMode ? search.timelineRows : null
    spacing: grid.rowSpacing
    bottomMargin: 12
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    cacheBuffer: cardHeight * 2
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

    Connections {
        target: root.search
        // Not on selectedIndexChanged: new captures arriving above the selection move its index,
        // and the list keeps its place then.
        function onSelectionMoved() {
            const row = root.search.timelineRows.rowOfCard(root.search.selectedIndex)
            if (root.visible && row >= 0)
                root.positionViewAtIndex(row, ListView.Contain)
        }
    }

    // Each day's first row carries its header. Not the list's sections: Qt 6.4 leaves a section's
    // header stale when rows are inserted above it, as new captures are.
    delegate: Column {
        id: dayRow
        required property int first
        required property var cards
        required property string day
        required property bool startsDay
        function cardAt(i) { return cardRepeater.itemAt(i) }

        Text {
            objectName: "dayHeader"
            visible: dayRow.startsDay
            width: root.width
            leftPadding: root.horizontalPadding
            topPadding: 14
            bottomPadding: 8
            textFormat: Text.PlainText
            text: dayRow.day
            font.pixelSize: 15
            font.weight: Font.DemiBold
            color: Theme.primary
            Accessible.role: Accessible.Heading
        }

        Row {
            x: root.horizontalPadding
            spacing: root.columnSpacing
            height: root.cardHeight

            Repeater {
                id: cardRepeater
                model: dayRow.cards
                delegate: Item {
                    id: slot
                    required property var modelData
                    required property int index
                    width: root.cardWidth
                    height: root.cardHeight
                    RecordingCard {
                        id: card
                        anchors.fill: parent
                        index: dayRow.first + slot.index
                        imageSource: slot.modelData.imageSource
                        appName: slot.modelData.appName
                        windowTitle: slot.modelData.windowTitle
                        relativeTime: slot.modelData.relativeTime
                        absoluteTime: slot.modelData.absoluteTime
                        snippet: slot.modelData.snippet
                        similarCount: slot.modelData.similarCount
                        expanded: slot.modelData.expanded
                        isSelected: index === root.search.selectedIndex
                        onOpened: root.grid.openViewer(index)
                        onSimilarToggled: root.search.toggleSimilar(index)
                        onMenuRequested: (x, y) => root.grid.showCardMenu(index, card, x, y)
                    }
                }
            }
        }
    }

    Keys.onPressed: (event) => {
        const selected = search.selectedIndex
        if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            grid.openViewer(selected)
            event.accepted = true
        } else if (event.key === Qt.Key_Menu || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
            const card = cardItem(selected)
            if (card)
                grid.showCardMenu(selected, card, 20, 20)
            event.accepted = true
        } else if (event.key === Qt.Key_Delete && grid.viewerModel && selected >= 0) {
            grid.askDeletion()
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
}
