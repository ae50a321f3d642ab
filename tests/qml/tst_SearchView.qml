import QtQuick
import QtTest
import Pellux

// The search area over a captured history: which state each query shows, the application chips,
// and the keyboard path from the search field through the grid to the viewer and back.
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
        id: testCase
        name: "SearchView"
        when: windowShown

        function find(item, name) {
            if (item.objectName === name)
                return item
            const children = item.children || []
            for (let i = 0; i < children.length; ++i) {
                const found = find(children[i], name)
                if (found)
                    return found
            }
            return null
        }

        function chips() {
            const result = []
            const collect = (item) => {
                if (item.hasOwnProperty("isSelected") && item.hasOwnProperty("iconSource"))
                    result.push(item)
                for (let i = 0; i < (item.children || []).length; ++i)
                    collect(item.children[i])
            }
            collect(view)
            return result
        }

        function chip(title) {
            return chips().find(c => c.title === title) || null
        }

        function type(text) {
            for (let i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        function field() { return find(view, "searchField") }

        function shown() {
            for (const name of ["blankSlate", "minimumCharacters", "noResults", "resultsGrid", "searchingState"]) {
                const item = find(view, name)
                if (item && item.visible)
                    return name
            }
            return "nothing"
        }

        function init() {
            searchModel.selectedApp = ""
            searchModel.searchText = ""
            searchModel.selectedIndex = -1
            tryCompare(searchModel, "isSearching", false)
            field().forceActiveFocus()
        }

        function test_contentStates_data() {
            return [
                { tag: "nothing typed", app: "", query: "", shown: "blankSlate" },
                { tag: "two characters", app: "", query: "bu", shown: "minimumCharacters" },
                { tag: "two characters, one application", app: "XTerm", query: "bu", shown: "noResults" },
                { tag: "a word on screen", app: "", query: "budget", shown: "resultsGrid" },
                { tag: "a word never seen", app: "", query: "zebrafish", shown: "noResults" },
                { tag: "three spaces search", app: "", query: "   ", shown: "noResults" },
                { tag: "one application, no query", app: "XTerm", query: "", shown: "resultsGrid" },
                { tag: "a word of another application", app: "XTerm", query: "edited", shown: "noResults" },
            ]
        }

        function test_contentStates(data) {
            searchModel.selectedApp = data.app
            type(data.query)
            tryCompare(searchModel, "isSearching", false)
            tryVerify(() => shown() === data.shown, 3000, "shows " + shown())
        }

        // Every content state the model passes through.
        property var statesSeen: []
        Connections {
            target: searchModel
            function onContentStateChanged() { testCase.statesSeen = testCase.statesSeen.concat([searchModel.contentState]) }
        }

        function test_searchRulesWithShortAndLongQueries() {
            type("bu")
            compare(searchModel.isSearching, false)
            compare(searchModel.contentState, SearchModel.MinimumCharacters)
            statesSeen = []
            type("d")
            // The third character starts a search, shown as searching until the answer comes.
            tryCompare(searchModel, "isSearching", false)
            compare(statesSeen, [SearchModel.Searching, SearchModel.Results])
            verify(searchModel.results.count >= 2)
            // Back to two characters: the hint again, never "No results found".
            keyClick(Qt.Key_Backspace)
            compare(searchModel.contentState, SearchModel.MinimumCharacters)
            tryVerify(() => shown() === "minimumCharacters")
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
            tryCompare(searchModel, "contentState", SearchModel.Results)
            for (let i = 0; i < searchModel.results.count; ++i)
                compare(searchModel.results.data(searchModel.results.index(i, 0), RecordingListModel.AppNameRole), "XTerm")
            // A second click returns to all applications.
            mouseClick(chip("XTerm"))
            compare(searchModel.selectedApp, "")
            tryVerify(() => shown() === "blankSlate")
            mouseClick(chip("Editor"))
            mouseClick(chip("All Apps"))
            compare(searchModel.selectedApp, "")
        }

        function test_keyboardSelection() {
            type("budget")
            tryCompare(searchModel, "contentState", SearchModel.Results)
            const count = searchModel.results.count
            verify(count >= 3, "results: " + count + " for [" + searchModel.searchText + "] app [" + searchModel.selectedApp + "]")
            const grid = find(view, "resultsGrid")
            compare(grid.columns, 2)
            keyClick(Qt.Key_Down)
            compare(searchModel.selectedIndex, 0)
            keyClick(Qt.Key_Right)
            compare(searchModel.selectedIndex, 1)
            keyClick(Qt.Key_Down)
            compare(searchModel.selectedIndex, 3)
            keyClick(Qt.Key_Left)
            compare(searchModel.selectedIndex, 2)
            keyClick(Qt.Key_Up)
            compare(searchModel.selectedIndex, 0)
            // Up from the first row returns to the search field.
            keyClick(Qt.Key_Up)
            compare(searchModel.selectedIndex, -1)
            verify(field().activeFocus)

            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Return)
            const viewer = grid.viewer
            tryCompare(viewer, "opened", true)
            verify(viewer.imageSource.length > 0)
            keyClick(Qt.Key_Escape)
            tryCompare(viewer, "visible", false)
            // The card opened last stays selected; Escape in the grid then clears the query.
            compare(searchModel.selectedIndex, 1)
            compare(searchModel.searchText, "budget")
            keyClick(Qt.Key_Escape)
            compare(searchModel.searchText, "")
            verify(field().activeFocus)
        }
    }
}
