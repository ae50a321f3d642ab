import QtQuick
import QtQuick.Layouts
import Pellux

// The window's content: the search area above the storage toolbar, the permission alert and the
// permission guide.
Item {
    id: root
    objectName: "windowContent"
    required property QtObject viewModel
    required property SearchModel search
    required property QtObject storage
    required property QtObject optimizer
    required property WindowActions actions
    property AppControls controls: null
    property bool showingPermissionInstructions: false

    readonly property bool permissionAlertWanted: viewModel !== null && viewModel.showPermissionAlert
                                                  && Window.window !== null && Window.window.visible
    onPermissionAlertWantedChanged: if (permissionAlertWanted) Qt.callLater(askForPermission)

    function askForPermission() {
        if (!permissionAlertWanted)
            return
        if (actions.showPermissionAlert())
            showingPermissionInstructions = true
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        SearchView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            // The window's keyboard focus: without it no key reaches the search field or the grid.
            focus: true
            search: root.search
            controls: root.controls
        }

        StorageToolbar {
            Layout.fillWidth: true
            Layout.preferredHeight: 32
            storage: root.storage
            optimizer: root.optimizer
            actions: root.actions
        }
    }

    // Built the first time it is shown, and kept: most windows never show it.
    onShowingPermissionInstructionsChanged: if (showingPermissionInstructions) permissionInstructions.active = true
    Loader {
        id: permissionInstructions
        active: false
        sourceComponent: PermissionInstructionsView {
            viewModel: root.viewModel
            actions: root.actions
            visible: root.showingPermissionInstructions
            onClosed: root.showingPermissionInstructions = false
        }
    }
}
