import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// A pane of the preferences window: its sections in a column that scrolls when it does not fit.
ScrollView {
    id: root
    default property alias sections: column.data

    contentWidth: availableWidth
    contentHeight: column.implicitHeight + 24
    clip: true

    ColumnLayout {
        id: column
        x: 24
        width: root.availableWidth - 48
        spacing: 20

        Item { Layout.preferredHeight: 4 }
    }
}
