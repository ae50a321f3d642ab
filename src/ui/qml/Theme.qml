pragma Singleton
import QtQuick

// The colours and sizes the views share: named colours with an opacity.
QtObject {
    readonly property color primary: Qt.rgba(0, 0, 0, 0.85)
    readonly property color secondary: Qt.rgba(0, 0, 0, 0.5)
    readonly property color separator: Qt.rgba(0, 0, 0, 0.1)
    readonly property color windowBackground: "#ececec"
    readonly property color controlBackground: "#ffffff"
    readonly property color green: "#34c759"
    readonly property color red: "#ff3b30"
    readonly property color orange: "#ff9500"
    readonly property color accent: "#007aff"

    function gray(opacity) { return Qt.rgba(0.5, 0.5, 0.5, opacity) }
    function black(opacity) { return Qt.rgba(0, 0, 0, opacity) }
    function white(opacity) { return Qt.rgba(1, 1, 1, opacity) }
    function primaryAt(opacity) { return Qt.rgba(0, 0, 0, 0.85 * opacity) }
    function secondaryAt(opacity) { return Qt.rgba(0, 0, 0, 0.5 * opacity) }

    // Text styles
    readonly property int caption: 11
    readonly property int callout: 12
    readonly property int body: 13
    readonly property int headline: 13
    readonly property int title: 22
    readonly property int title2: 17
    readonly property int title3: 15
    readonly property int largeTitle: 26
}
