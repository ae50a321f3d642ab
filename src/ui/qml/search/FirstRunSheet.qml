import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The first start's sheet over the search window: what Pellux records, where it keeps it, how to
// pause and how to leave applications out. Only its button dismisses it, for good.
Popup {
    id: root
    objectName: "firstRunSheet"
    property FirstRun firstRun: null

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(540, parent ? parent.width - 40 : 540)
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose
    padding: 24
    visible: firstRun !== null && firstRun.pending

    background: Rectangle {
        radius: 10
        color: Theme.controlBackground
        border.color: Theme.black(0.15)
    }

    component Point: RowLayout {
        property alias symbol: icon.name
        property alias heading: headingText.text
        property alias body: bodyText.text
        property alias bodyName: bodyText.objectName
        Layout.fillWidth: true
        spacing: 14
        SymbolIcon {
            id: icon
            size: 22
            color: Theme.accent
            Layout.alignment: Qt.AlignTop
            Layout.topMargin: 2
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Text {
                id: headingText
                textFormat: Text.PlainText
                font.pixelSize: Theme.body
                font.weight: Font.DemiBold
                color: Theme.primary
            }
            Text {
                id: bodyText
                Layout.fillWidth: true
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.pixelSize: Theme.body
                color: Theme.secondaryAt(1.4)
            }
        }
    }

    contentItem: ColumnLayout {
        spacing: 16
        Keys.onReturnPressed: root.firstRun.dismiss()
        Keys.onEnterPressed: root.firstRun.dismiss()

        RowLayout {
            spacing: 12
            Image {
                source: "qrc:/Pellux/images/pellux.svg"
                sourceSize: Qt.size(44, 44)
            }
            ColumnLayout {
                spacing: 2
                Text {
                    text: "Welcome to Pellux"
                    font.pixelSize: Theme.title2
                    font.weight: Font.DemiBold
                    color: Theme.primary
                }
                Text {
                    text: "A searchable history of what was on your screen."
                    font.pixelSize: Theme.body
                    color: Theme.secondary
                }
            }
        }

        Point {
            symbol: "camera.viewfinder"
            heading: "What Pellux records"
            body: "Every few seconds while you work, the pixels and the text of every window you have open, "
                  + "so that you can search for anything you have seen."
        }
        Point {
            symbol: "internaldrive"
            heading: "Where it is kept"
            bodyName: "firstRunStoreFolder"
            body: "In " + (root.firstRun ? root.firstRun.storeFolder : "") + ", on this computer only. "
                  + "Nothing you record leaves this machine."
        }
        Point {
            symbol: "pause.fill"
            heading: "How to pause"
            bodyName: "firstRunPauseText"
            body: root.firstRun ? root.firstRun.pauseText : ""
        }
        Point {
            symbol: "hand.raised"
            heading: "Leave applications out"
            body: "Applications you exclude in the Privacy settings are never recorded."
        }

        RowLayout {
            Layout.topMargin: 4
            spacing: 8
            PushButton {
                objectName: "firstRunPrivacyButton"
                text: "Privacy Settings\u2026"
                onClicked: root.firstRun.openPrivacySettings()
            }
            Item { Layout.fillWidth: true }
            PushButton {
                objectName: "firstRunDismissButton"
                text: root.firstRun ? root.firstRun.dismissText : ""
                prominent: true
                onClicked: root.firstRun.dismiss()
            }
        }
    }

    onOpened: contentItem.forceActiveFocus()
}
