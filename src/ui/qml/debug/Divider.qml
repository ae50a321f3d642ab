import QtQuick
import QtQuick.Layouts
import Pellux

Rectangle {
    Layout.fillWidth: true
    implicitHeight: 1
    color: Theme.separator
}
