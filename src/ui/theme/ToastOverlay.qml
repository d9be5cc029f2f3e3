import QtQuick
import QtQuick.Layouts
import Korvanta

// The transient messages of ToastManager, stacked at the top of what it covers, oldest first:
// each springs in, and fades out when its time is up while the others close ranks.
Item {
    id: root

    ListView {
        id: stack

        anchors.top: parent.top
        anchors.topMargin: Theme.spacing + 4
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width - 2 * Theme.standardPadding, 420)
        height: Math.min(stack.contentHeight, parent.height)
        interactive: false
        spacing: Theme.spacing
        model: ToastManager

        delegate: Item {
            id: toast

            required property string message
            required property string kind
            required property string iconName
            readonly property color tint: ThemeManager.currentTheme[toast.kind] ?? ThemeManager.currentTheme.info

            width: ListView.view.width
            implicitHeight: Math.max(48, row.implicitHeight + 2 * 12)
            transformOrigin: Item.Top
            Accessible.role: Accessible.AlertMessage
            Accessible.name: toast.message

            // A soft drop shadow without effects (the software renderer has none).
            Rectangle {
                anchors.fill: parent
                anchors.topMargin: 3
                anchors.bottomMargin: -4
                radius: Theme.radius
                color: "#000000"
                opacity: 0.35
            }
            Rectangle {
                anchors.fill: parent
                radius: Theme.radius
                color: ThemeManager.currentTheme.backgroundSecondary
                border.width: 1
                border.color: Theme.alpha(toast.tint, 0.6)
                Behavior on color { ColorAnimation { duration: Theme.fast } }
            }
            Rectangle {
                anchors.fill: parent
                anchors.margins: 1
                radius: Theme.radius - 1
                color: Theme.alpha(toast.tint, 0.12)
            }
            RowLayout {
                id: row
                anchors.fill: parent
                anchors.leftMargin: 14
                anchors.rightMargin: 16
                spacing: 10
                Icon {
                    Layout.alignment: Qt.AlignVCenter
                    name: toast.iconName
                    size: 22
                    color: toast.tint
                }
                Text {
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignVCenter
                    text: toast.message
                    wrapMode: Text.WordWrap
                    lineHeight: 1.15
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontBody
                    font.weight: Font.Medium
                    color: ThemeManager.currentTheme.textPrimary
                }
            }
        }

        add: Transition {
            ParallelAnimation {
                NumberAnimation { property: "opacity"; from: 0; to: 1; duration: Theme.normal; easing.type: Easing.OutCubic }
                NumberAnimation { property: "scale"; from: 0.8; to: 1; duration: Theme.normal; easing.type: Easing.OutBack; easing.overshoot: 1.4 }
            }
        }
        remove: Transition {
            ParallelAnimation {
                NumberAnimation { property: "opacity"; to: 0; duration: 200; easing.type: Easing.OutQuad }
                NumberAnimation { property: "scale"; to: 0.92; duration: 200; easing.type: Easing.OutQuad }
            }
        }
        displaced: Transition {
            NumberAnimation { properties: "y"; duration: Theme.normal; easing.type: Easing.OutBack; easing.overshoot: 0.8 }
        }
    }
}
