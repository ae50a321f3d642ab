import QtQuick
import Pellux

EmptyStateView {
    objectName: "minimumCharacters"
    symbol: "text.magnifyingglass"
    title: "Type at least 3 characters"
    subtitle: "This helps narrow down the search through OCR text"
}
