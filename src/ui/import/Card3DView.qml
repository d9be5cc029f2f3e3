import QtQuick
import QtQuick.Controls
import QtQuick.Shapes
import Korvanta

// The drop card of the import screen: it tilts towards the pointer, lights up under a drag, and
// plays an attention pulse when asked.
Item {
    id: root

    property bool dragOver: false
    property bool triggerAttentionAnimation: false
    signal selectFolder()
    signal selectFiles()

    implicitHeight: 172

    QtObject {
        id: prv
        property real rotationX: 0
        property real rotationY: 0
        property point mousePosition: Qt.point(root.width / 2, root.height / 2)
        property bool isHovering: false
        property real animationProgress: 0
    }

    onTriggerAttentionAnimationChanged: if (root.triggerAttentionAnimation) attention.restart()

    SequentialAnimation {
        id: attention
        NumberAnimation { target: prv; property: "animationProgress"; to: 1; duration: 180; easing.type: Easing.OutQuad }
        NumberAnimation { target: prv; property: "animationProgress"; to: 0; duration: 420; easing.type: Easing.OutElastic }
        NumberAnimation { target: prv; property: "animationProgress"; to: 0.6; duration: 160 }
        NumberAnimation { target: prv; property: "animationProgress"; to: 0; duration: 360; easing.type: Easing.OutBack }
    }

    Rectangle {
        id: card
        anchors.fill: parent
        radius: Theme.radius + 4
        color: ThemeManager.currentTheme.cardBackground
        border.width: root.dragOver ? 2 : 1
        border.color: root.dragOver ? ThemeManager.currentTheme.accent
                                    : Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.25)
        scale: 1.0 + prv.animationProgress * 0.04 + (root.dragOver ? 0.015 : 0)
        Behavior on scale { NumberAnimation { duration: Theme.fast } }
        Behavior on border.color { ColorAnimation { duration: Theme.fast } }

        transform: [
            Rotation {
                origin.x: card.width / 2
                origin.y: card.height / 2
                axis { x: 1; y: 0; z: 0 }
                angle: prv.rotationX
            },
            Rotation {
                origin.x: card.width / 2
                origin.y: card.height / 2
                axis { x: 0; y: 1; z: 0 }
                angle: prv.rotationY
            }
        ]

        // The light that follows the pointer (and fills the card under a drag).
        Shape {
            anchors.fill: parent
            opacity: root.dragOver ? 0.9 : (prv.isHovering ? 0.6 : 0.0)
            Behavior on opacity { NumberAnimation { duration: Theme.normal } }
            ShapePath {
                strokeColor: "transparent"
                fillGradient: RadialGradient {
                    centerX: prv.mousePosition.x
                    centerY: prv.mousePosition.y
                    centerRadius: card.width * 0.55
                    focalX: prv.mousePosition.x
                    focalY: prv.mousePosition.y
                    GradientStop { position: 0.0; color: Theme.alpha(ThemeManager.currentTheme.accent, 0.22) }
                    GradientStop { position: 1.0; color: "transparent" }
                }
                startX: card.radius; startY: 0
                PathLine { x: card.width - card.radius; y: 0 }
                PathArc { x: card.width; y: card.radius; radiusX: card.radius; radiusY: card.radius }
                PathLine { x: card.width; y: card.height - card.radius }
                PathArc { x: card.width - card.radius; y: card.height; radiusX: card.radius; radiusY: card.radius }
                PathLine { x: card.radius; y: card.height }
                PathArc { x: 0; y: card.height - card.radius; radiusX: card.radius; radiusY: card.radius }
                PathLine { x: 0; y: card.radius }
                PathArc { x: card.radius; y: 0; radiusX: card.radius; radiusY: card.radius }
            }
        }

        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            acceptedButtons: Qt.NoButton
            onPositionChanged: (mouse) => {
                prv.mousePosition = Qt.point(mouse.x, mouse.y)
                prv.rotationX = (mouse.y / card.height - 0.5) * -8
                prv.rotationY = (mouse.x / card.width - 0.5) * 8
            }
            onEntered: prv.isHovering = true
            onExited: {
                prv.isHovering = false
                springBack.restart()
            }
        }

        ParallelAnimation {
            id: springBack
            SpringAnimation { target: prv; property: "rotationX"; to: 0; spring: 4; damping: 0.35 }
            SpringAnimation { target: prv; property: "rotationY"; to: 0; spring: 4; damping: 0.35 }
        }

        Column {
            anchors.centerIn: parent
            spacing: Theme.spacing

            Logo {
                anchors.horizontalCenter: parent.horizontalCenter
                width: 48
                height: 48
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Drag folder here"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontTitle
                font.weight: Font.Bold
                color: ThemeManager.currentTheme.textPrimary
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Drag your music files here"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                color: ThemeManager.currentTheme.textSecondary
            }
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: Theme.spacing
                PillButton {
                    text: "Select Folder"
                    iconName: "folder"
                    onClicked: root.selectFolder()
                }
                PillButton {
                    text: "Add Files"
                    iconName: "doc.badge.plus"
                    onClicked: root.selectFiles()
                }
            }
        }
    }
}
