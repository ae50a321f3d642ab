import QtQuick
import QtQuick.Layouts
import Pellux

// Beside the date filters: how many screenshots the filters and the query hold, and the date range in
// force with a button that clears it.
RowLayout {
    id: root
    objectName: "resultsSummary"
    required property SearchModel search
    spacing: 8

    Text {
        objectName: "countText"
        textFormat: Text.PlainText
        text: root.search.countText
        font.pixelSize: 12
        color: Theme.secondary
    }

    Rectangle {
        objectName: "rangeLabel"
        visible: root.search.rangeLabel.length > 0
        implicitWidth: rangeRow.implicitWidth + 16
        implicitHeight: rangeRow.implicitHeight + 6
        radius: height / 2
        color: Theme.gray(0.12)
        Accessible.role: Accessible.StaticText
        Accessible.name: root.search.rangeLabel

        RowLayout {
            id: rangeRow
            anchors.centerIn: parent
            spacing: 6
            Text {
                textFormat: Text.PlainText
                text: root.search.rangeLabel
                font.pixelSize: 12
                font.weight: Font.Medium
                color: Theme.primary
            }
            SymbolIcon {
                objectName: "clearRange"
                name: "xmark.circle.fill"
                size: 12
                color: Theme.gray(0.6)
                Accessible.role: Accessible.Button
                Accessible.name: "Show every day"
                TapHandler { onTapped: root.search.clearDateRange() }
                HoverHandler { cursorShape: Qt.PointingHandCursor }
            }
        }
    }

}
