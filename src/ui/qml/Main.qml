import QtQuick
import QtQuick.Controls
import Pellux

ApplicationWindow {
    id: window
    required property QtObject viewModel
    required property SearchModel search
    required property QtObject storage
    required property QtObject optimizer
    required property WindowActions actions
    // Shown in a bar above the content until the user closes it.
    property string notice: ""

    width: 800
    height: 600
    minimumWidth: 800
    minimumHeight: 600
    title: "Pellux"
    color: "white"

    header: NoticeBar {
        objectName: "noticeBar"
        text: window.notice
        visible: window.notice.length > 0
        onDismissed: window.notice = ""
    }

    ContentView {
        id: content
        anchors.fill: parent
        viewModel: window.viewModel
        search: window.search
        storage: window.storage
        optimizer: window.optimizer
        actions: window.actions
    }
}
