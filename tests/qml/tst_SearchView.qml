import QtQuick
import QtTest
import Pellux

// The search area over a captured history: typing, the application chips, and the keyboard path
// from the search field through the grid to the viewer and back. (Which view each state shows is
// checked by the render test.)
Item {
    id: root
    width: 800
    height: 600

    SearchView {
        id: view
        anchors.fill: parent
        search: searchModel
    }

    TestCase {
        name: "SearchView"
        when: windowShown

        // The application chip of that title, or null.
        function chip(title, item = view) {
            if (item.hasOwnProperty("isSelected") && item.hasOwnProperty("iconSource") && item.title === title)
                return item
            for (let i = 0; i < (item.children || []).length; ++i) {
                const found = chip(title, item.children[i])
                if (found)
                    return found
            }
            return null
        }

        function type(text) {
            for (let i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        function field() { return findChild(view, "searchField") }

        function init() {
            searchModel.selectedApp = ""
            searchModel.searchText = ""
            searchModel.selectedIndex = -1
            tryCompare(searchModel, "isSearching", false)
            field().forceActiveFocus()
        }

        function test_typingAnywhereGoesToTheSearchField() {
            type("budget")
            tryCompare(searchModel, "contentState", SearchModel.Results)
            keyClick(Qt.Key_Down)
            verify(!field().activeFocus)
            type("s")
            verify(field().activeFocus)
            compare(searchModel.searchText, "budgets")
        }

        function test_chipsToggleTheApplication() {
            tryVerify(() => chip("XTerm") !== null && chip("Editor") !== null)
            const all = chip("All Apps")
            verify(all.isSelected)
            mouseClick(chip("XTerm"))
            compare(searchModel.selectedApp, "XTerm")
            verify(chip("XTerm").isSelected && !all.isSelected)
            // A second click returns to all applications.
            mouseClick(chip("XTerm"))
            compare(searchModel.selectedApp, "")
            mouseClick(chip("Editor"))
            mouseClick(chip("All Apps"))
            compare(searchModel.selectedApp, "")
        }

        // Enter in the search field opens the newest result, and does nothing without results.
        function test_returnInTheFieldOpensTheTopHit() {
            const viewer = findChild(view, "screenshotViewer")
            type("nothing-like-this")
            tryCompare(searchModel, "contentState", SearchModel.NoResults)
            keyClick(Qt.Key_Return)
            verify(!viewer.visible)
            field().selectAll()
            type("budget")
            tryCompare(searchModel, "contentState", SearchModel.Results)
            keyClick(Qt.Key_Return)
            tryVerify(() => viewer.visible)
            compare(searchModel.selectedIndex, 0)
            keyClick(Qt.Key_Escape)
            tryVerify(() => !viewer.visible)
        }

        // Arrow keys move through the grid (the model's rules), Up from the first row returns to the
        // field, Escape in the grid clears the query. (Return and the viewer: the end-to-end test.)
        function test_keyboardSelection() {
            type("budget")
            tryCompare(searchModel, "contentState", SearchModel.Results)
            verify(searchModel.results.count >= 3, "results: " + searchModel.results.count)
            compare(findChild(view, "resultsGrid").columns, 2)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Down)
            compare(searchModel.selectedIndex, 3)
            keyClick(Qt.Key_Up)
            keyClick(Qt.Key_Up)
            compare(searchModel.selectedIndex, -1)
            verify(field().activeFocus)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Escape)
            compare(searchModel.searchText, "")
            verify(field().activeFocus)
        }
    }
}
