import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// Asks before a screenshot is deleted, naming what goes; Delete confirms.
Dialog {
    id: root
    objectName: "deleteScreenshotDialog"
    property string question
    signal confirmed()

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(440, parent ? parent.width - 40 : 440)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 20
    title: "Delete Screenshot?"

    background: Rectangle {
        radius: 10
        color: Theme.controlBackground
        border.color: Theme.black(0.15)
    }

    header: Label {
        text: root.title
        font.pixelSize: Theme.title3
        font.weight: Font.DemiBold
        color: Theme.primary
        leftPadding: 20
        rightPadding: 20
        topPadding: 18
    }

    contentItem: Text {
        objectName: "deleteQuestion"
        text: root.question
        // Titles are data: never read as markup.
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: Theme.body
        color: Theme.primary
    }

    footer: RowLayout {
        spacing: 8
        Item { Layout.fillWidth: true }
        PushButton {
            text: "Cancel"
            Layout.bottomMargin: 18
            onClicked: root.reject()
        }
        PushButton {
            id: deleteButton
            objectName: "confirmDeleteButton"
            text: "Delete"
            destructive: true
            Layout.rightMargin: 20
            Layout.bottomMargin: 18
            onClicked: root.accept()
            Keys.onReturnPressed: root.accept()
            Keys.onEnterPressed: root.accept()
        }
    }

    onOpened: deleteButton.forceActiveFocus()
    onAccepted: confirmed()
}
