import QtQuick
import Pellux

EmptyStateView {
    objectName: "noResults"
    symbol: "magnifyingglass"
    title: "No results found"
    subtitle: "Try a different search term or filter"
}
