import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Pellux

// The application, its version, whom to write to and the legal notice.
SettingsPane {
    id: root
    required property SettingsModel settings

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 6

        Image {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 128
            Layout.preferredHeight: 128
            source: "qrc:/Pellux/images/pellux.svg"
            sourceSize: Qt.size(256, 256)
            smooth: true
            fillMode: Image.PreserveAspectFit
        }
        Text {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: "Pellux"
            font.pixelSize: Theme.largeTitle
            font.weight: Font.DemiBold
            color: Theme.primary
        }
        Text {
            textFormat: Text.PlainText
            objectName: "versionText"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: root.settings.versionText
            font.pixelSize: Theme.body
            color: Theme.secondary
        }
    }

    FormSection {
        title: "Contact"
        FormRow {
            label: "Email"
            Text {
                textFormat: Text.PlainText
                text: root.settings.contactAddress
                font.pixelSize: Theme.body
                font.underline: link.hovered
                color: Theme.accent
                Accessible.role: Accessible.Link
                Accessible.name: text
                HoverHandler {
                    id: link
                    cursorShape: Qt.PointingHandCursor
                }
                TapHandler { onTapped: root.settings.openContact() }
            }
        }
    }

    FormSection {
        title: "Legal"
        Text {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            Layout.margins: 12
            text: root.settings.legalNotice
            font.pixelSize: Theme.callout
            color: Theme.secondary
            wrapMode: Text.WordWrap
        }
    }
}
