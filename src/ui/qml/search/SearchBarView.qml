import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The search field and, once anything was captured, the application filter (or why the
// applications could not be listed).
ColumnLayout {
    id: root
    required property SearchModel search
    property AppControls controls: null
    property alias field: field
    signal moveIntoResults()
    signal openTopHit()

    spacing: 12
    // The bar takes the keyboard for its field.
    onActiveFocusChanged: if (activeFocus) field.forceActiveFocus()

    RowLayout {
        Layout.fillWidth: true
        spacing: 12

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: fieldRow.implicitHeight + 24
            radius: 12
            color: Theme.gray(0.08)

            RowLayout {
                id: fieldRow
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                anchors.topMargin: 12
                anchors.bottomMargin: 12
                spacing: 8

                SymbolIcon {
                    name: "magnifyingglass"
                    size: 15
                    color: Theme.gray(0.5)
                }

                TextField {
                    id: field
                    objectName: "searchField"
                    Layout.fillWidth: true
                    focus: true
                    background: null
                    padding: 0
                    font.pixelSize: 15
                    color: Theme.primary
                    placeholderText: "Search app names, window titles, or text in screenshots..."
                    placeholderTextColor: Theme.secondary
                    selectByMouse: true
                    onTextChanged: root.search.searchText = text
                    Keys.onDownPressed: root.moveIntoResults()
                    Keys.onReturnPressed: root.openTopHit()
                    Keys.onEnterPressed: root.openTopHit()
                    // Escape clears the query, and on an empty one closes the window.
                    Keys.onEscapePressed: (event) => {
                        event.accepted = true
                        if (text.length > 0)
                            clear()
                        else if (Window.window)
                            Window.window.close()
                    }
                    Connections {
                        target: root.search
                        function onSearchTextChanged() {
                            if (field.text !== root.search.searchText)
                                field.text = root.search.searchText
                        }
                    }
                }

                SymbolIcon {
                    id: clearButton
                    objectName: "clearButton"
                    visible: field.text.length > 0
                    name: "xmark.circle.fill"
                    size: 13
                    color: Theme.gray(0.4)
                    TapHandler {
                        onTapped: {
                            field.clear()
                            field.forceActiveFocus()
                        }
                    }
                    HoverHandler { cursorShape: Qt.PointingHandCursor }
                }
            }
        }

        CaptureStateBadge {
            visible: root.controls !== null
            controls: root.controls
        }

        AppMenuButton {
            visible: root.controls !== null
            controls: root.controls
        }
    }

    AppFilterBar {
        Layout.fillWidth: true
        visible: root.search.uniqueApps.length > 0
        search: root.search
    }

    // The date filters, and on their right how many screenshots the filters and the query hold;
    // below them when the window is too narrow for both.
    Flow {
        id: dateRow
        Layout.fillWidth: true
        visible: root.search.recordingCount > 0 || root.search.dateFilter.length > 0
        spacing: 12
        DateFilterBar {
            width: Math.min(contentWidth, dateRow.width)
            height: implicitHeight
            search: root.search
        }
        ResultsSummary {
            height: 30 // the chips' height, so that the count lines up with their titles
            visible: root.search.contentState !== SearchModel.BlankSlate
                     && root.search.contentState !== SearchModel.MinimumCharacters
            search: root.search
        }
    }

    Text {
        textFormat: Text.PlainText
        objectName: "applicationsFailure"
        Layout.fillWidth: true
        visible: text.length > 0
        text: root.search.applicationsFailure
        elide: Text.ElideRight
        font.pixelSize: 12
        color: Theme.red
    }
}
