import QtQuick
import QtQuick.Controls
import Pellux

// The application, the capture time relative to now (the exact time on hover), the window title
// and the matched line of a card, with the "+N" badge of the cards like it. Titles, names and
// recognised text are data: plain text, and the snippet arrives escaped.
Item {
    id: root
    property string appName
    property string windowTitle
    property string relativeTime
    property string absoluteTime
    property string snippet
    property int similarCount: 0
    property bool expanded: false
    signal similarToggled()

    // Plain positioners: a grid builds a screenful of cards at once, and layouts cost more.
    Column {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 4

        // The application, the "+N" badge and the time, centred on one line.
        Item {
            width: parent.width
            height: Math.max(appName.implicitHeight, badge.height, time.implicitHeight)
            Text {
                id: appName
                anchors.left: parent.left
                anchors.right: badge.left
                anchors.rightMargin: 5
                anchors.verticalCenter: parent.verticalCenter
                text: Format.name(root.appName)
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.primary
            }
            // Built only where needed: a keystroke can build a screenful of new cards at once.
            Loader {
                id: badge
                anchors.right: time.left
                anchors.rightMargin: active ? 5 : 0
                anchors.verticalCenter: parent.verticalCenter
                active: root.similarCount > 0
                visible: active
                sourceComponent: similarBadge
            }
            Text {
                id: time
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                textFormat: Text.PlainText
                objectName: "relativeTime"
                text: root.relativeTime
                font.pixelSize: 11
                color: Theme.secondary
                // The attached tool tip shares one popup among all cards, made when first shown.
                ToolTip.visible: timeHover.hovered
                ToolTip.delay: 500
                ToolTip.text: root.absoluteTime
                HoverHandler { id: timeHover }
            }
        }

        Text {
            width: parent.width
            visible: root.windowTitle.length > 0
            text: Format.name(root.windowTitle)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            elide: Text.ElideRight
            maximumLineCount: root.snippet.length > 0 ? 1 : 2
            font.pixelSize: 12
            color: Theme.secondaryAt(0.8)
        }

        Text {
            objectName: "snippet"
            width: parent.width
            visible: root.snippet.length > 0
            text: root.snippet
            textFormat: Text.StyledText
            wrapMode: Text.Wrap
            elide: Text.ElideRight
            maximumLineCount: 2
            font.pixelSize: 12
            color: Theme.primary
        }
    }

    Component {
        id: similarBadge
        Rectangle {
            objectName: "similarBadge"
            implicitWidth: badgeText.implicitWidth + 12
            implicitHeight: badgeText.implicitHeight + 4
            radius: height / 2
            color: root.expanded ? "black" : Theme.gray(0.12)
            Accessible.role: Accessible.Button
            Accessible.name: root.expanded ? qsTr("Hide the %n like this", "", root.similarCount)
                                           : qsTr("Show %n more like this", "", root.similarCount)
            ToolTip.visible: badgeHover.hovered
            ToolTip.delay: 500
            ToolTip.text: root.expanded ? qsTr("Hide the results with the same window and text")
                                        : qsTr("%n more with the same window and text", "", root.similarCount)
            Text {
                textFormat: Text.PlainText
                id: badgeText
                anchors.centerIn: parent
                text: (root.expanded ? "\u2212" : "+") + root.similarCount
                font.pixelSize: 11
                font.weight: Font.Medium
                color: root.expanded ? "white" : Theme.black(0.7)
            }
            TapHandler { onTapped: root.similarToggled() }
            HoverHandler { id: badgeHover; cursorShape: Qt.PointingHandCursor }
        }
    }
}
