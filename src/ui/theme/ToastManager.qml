pragma Singleton
import QtQuick
QtObject {
    readonly property int success: 0
    function show(m, t, d) { console.log("toast", m) }
}
