import QtQuick
import QtQuick.Layouts
import Pellux

// The search area: the search bar on white, a divider, and the results area. Typing anywhere in
// it goes to the search field.
FocusScope {
    id: root
    required property SearchModel search
    property AppControls controls: null

    function typeIntoSearchField(event) {
        if (event.text.length === 0 || event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier))
            return false
        const code = event.text.charCodeAt(0)
        if (code < 0x20 || code === 0x7f)
            return false
        bar.field.forceActiveFocus()
        bar.field.insert(bar.field.cursorPosition, event.text)
        return true
    }

    Rectangle {
        anchors.fill: parent
        color: "white"
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        SearchBarView {
            id: bar
            Layout.fillWidth: true
            Layout.topMargin: 20
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.bottomMargin: 20
            search: root.search
            controls: root.controls
            focus: true
            onMoveIntoResults: {
                if (root.search.navigate(Qt.Key_Down, content.columns))
                    content.focusResults()
            }
            onOpenTopHit: content.openTopHit()
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Theme.gray(0.15)
        }

        SearchContentView {
            id: content
            Layout.fillWidth: true
            Layout.fillHeight: true
            search: root.search
            onTyped: (event) => event.accepted = root.typeIntoSearchField(event)
            onLeaveResults: bar.field.forceActiveFocus()
            onClearQuery: {
                root.search.searchText = ""
                bar.field.forceActiveFocus()
            }
        }
    }

    Keys.onPressed: (event) => event.accepted = root.typeIntoSearchField(event)
    // Escape with nothing typed closes the window, wherever the keyboard is.
    Keys.onEscapePressed: (event) => {
        if (root.search.searchText.length > 0)
            root.search.searchText = ""
        else if (Window.window)
            Window.window.close()
    }
}
