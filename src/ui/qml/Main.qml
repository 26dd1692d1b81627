import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import QtQuick.Shapes

// The one window: the header, then the empty state or the workspace. The pickers,
// the alert, the removal confirmation and the comparison window hang off it, and
// it is the only place that keeps window-level state.
ApplicationWindow {
    id: root

    required property var app

    // Busy is read afresh wherever it is used; making a preview is not busy.
    readonly property bool busy: app.state === "preparing" || app.state === "compressing"
    property bool isDropTargeted: false
    property string filePickerPurpose: "addVideos"
    property bool isShowingFilePicker: false
    readonly property bool isConfirmingRemoval: confirmation.visible
    readonly property bool isShowingAlert: alert.visible
    property var comparison: null
    readonly property var videoExtensions: ["mp4", "m4v", "mov", "qt", "mkv", "webm", "avi", "wmv", "asf", "flv",
        "mpg", "mpeg", "m2v", "ts", "mts", "m2ts", "3gp", "3g2", "ogv", "vob", "mxf", "dv"]

    // What the change reactions compare against; taken once the window exists.
    property var lastSettings: null
    property string lastSelection: ""

    width: 1120
    height: 780
    minimumWidth: 940
    minimumHeight: 680
    visible: true
    title: "Slimreel"
    color: Style.windowBackground

    // The comparison belongs to this window: it must not keep the program running alone.
    onClosing: closeComparison()

    background: Shape {
        ShapePath {
            strokeColor: "transparent"
            fillGradient: LinearGradient {
                x1: 0; y1: 0
                x2: root.width; y2: root.height
                GradientStop { position: 0; color: Style.windowBackground }
                GradientStop { position: 1; color: Qt.tint(Style.windowBackground, Style.alpha(Style.accent, 0.055)) }
            }
            startX: 0; startY: 0
            PathLine { x: root.width; y: 0 }
            PathLine { x: root.width; y: root.height }
            PathLine { x: 0; y: root.height }
            PathLine { x: 0; y: 0 }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Header {
            app: root.app
            shell: root
            Layout.fillWidth: true
            Layout.leftMargin: 28
            Layout.rightMargin: 28
            Layout.topMargin: 18
            Layout.bottomMargin: 18
        }

        Loader {
            objectName: "mainArea"
            Layout.fillWidth: true
            Layout.fillHeight: true
            sourceComponent: root.app.hasVideo ? workspaceComponent : emptyStateComponent
        }
    }

    // The desktop's usual keys; the buttons' tooltips name them. None acts behind a dialog or a picker.
    readonly property bool keysFree: !isShowingFilePicker && !alert.visible && !confirmation.visible

    Shortcut {
        sequences: [StandardKey.Open]
        enabled: root.keysFree && !root.busy
        onActivated: root.presentPicker("addVideos")
    }

    Shortcut {
        sequences: ["Ctrl+Return", "Ctrl+Enter"]
        enabled: root.keysFree && root.app.hasVideo && !root.busy && root.app.state !== "completed"
        onActivated: root.presentPicker("outputFolder")
    }

    // A text field keeps its own Delete (it takes the key first).
    Shortcut {
        sequences: [StandardKey.Delete]
        enabled: root.keysFree && root.app.hasVideo
        onActivated: root.requestRemoval()
    }

    // What a screen reader announces when a queued video is done or has failed. Kept out of
    // sight but not hidden (hidden objects are not read); shown anew for each message. A Text,
    // since a control's own role would replace the alert's.
    Text {
        id: announcement
        objectName: "queueAnnouncement"
        width: 1
        height: 1
        clip: true
        color: "transparent"
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text

        Connections {
            target: root.app
            function onItemFinished(fileName, reason) {
                announcement.visible = false
                announcement.text = fileName + (reason.length > 0 ? "：失败，" + reason : "：完成")
                announcement.visible = true
            }
        }
    }

    Component {
        id: emptyStateComponent
        EmptyState { app: root.app; shell: root }
    }

    Component {
        id: workspaceComponent
        Workspace { app: root.app; shell: root }
    }

    // Window-level actions offered to the views.

    function presentPicker(purpose) {
        filePickerPurpose = purpose
        isShowingFilePicker = true
        if (purpose === "outputFolder")
            folderPicker.open()
        else
            filePicker.open()
    }

    // The picker's answer, by the purpose it was opened for.
    function pickerFinished(urls) {
        isShowingFilePicker = false
        const chosen = Array.from(urls)
        if (filePickerPurpose === "addVideos") {
            app.importVideos(chosen, false)
        } else if (filePickerPurpose === "replaceVideo") {
            if (chosen.length > 0)
                app.replaceSelectedVideo(chosen[0])
        } else if (filePickerPurpose === "outputFolder") {
            if (chosen.length > 0)
                app.compressAll(chosen[0])
        }
    }

    // Dropped or given on the command line; refused while busy or without files.
    function acceptDrop(urls) {
        const files = Array.from(urls ?? []).filter(url => String(url).startsWith("file:"))
        if (files.length === 0 || busy)
            return false
        app.importVideos(files, false)
        return true
    }

    function closeComparison() {
        if (comparison !== null) {
            comparison.close()
            comparison.destroy()
            comparison = null
        }
    }

    function openComparison(originalUrl, compressedUrl, startTime) {
        closeComparison()
        comparison = comparisonComponent.createObject(root, {
            originalUrl: originalUrl,
            compressedUrl: compressedUrl,
            originalStartTime: startTime
        })
        comparison.show()
        comparison.raise()
        comparison.requestActivate()
    }

    function removeCurrentVideo() {
        closeComparison()
        app.removeVideo()
    }

    // The video card's remove button: ask first while work runs.
    function requestRemoval() {
        if (app.hasActiveTask)
            confirmation.open()
        else
            removeCurrentVideo()
    }

    function clearQueue() {
        closeComparison()
        app.clearVideos()
    }

    function settingsSnapshot() {
        return { mode: app.mode, plan: app.plan, targetSizeMB: app.targetSizeMB }
    }

    Component.onCompleted: {
        lastSettings = settingsSnapshot()
        lastSelection = app.selectedItemID
        if (app.alertMessage !== "")
            alert.open()
    }

    // The change reactions: only real changes of value count.
    Connections {
        target: root.app

        function onSettingsChanged() {
            const now = root.settingsSnapshot()
            const before = root.lastSettings
            if (before !== null && now.mode === before.mode && now.plan === before.plan
                    && now.targetSizeMB === before.targetSizeMB)
                return
            root.lastSettings = now
            root.closeComparison()
            root.app.settingsDidChange()
        }

        function onSelectedItemIDChanged() {
            if (root.app.selectedItemID === root.lastSelection)
                return
            root.lastSelection = root.app.selectedItemID
            root.closeComparison()
        }

        function onAlertMessageChanged() {
            if (root.app.alertMessage !== "")
                alert.open()
        }
    }

    Component {
        id: comparisonComponent
        ComparisonWindow {}
    }

    FileDialog {
        id: filePicker
        objectName: "filePicker"
        fileMode: root.filePickerPurpose === "addVideos" ? FileDialog.OpenFiles : FileDialog.OpenFile
        // Cameras and phones often name files in capitals (IMG_0001.MOV); patterns are case-sensitive.
        nameFilters: [root.videoExtensions.map(ext => "*." + ext + " *." + ext.toUpperCase()).join(" ")]
        onAccepted: root.pickerFinished(selectedFiles)
        onRejected: root.isShowingFilePicker = false
    }

    FolderDialog {
        id: folderPicker
        objectName: "folderPicker"
        onAccepted: root.pickerFinished([selectedFolder])
        onRejected: root.isShowingFilePicker = false
    }

    PromptDialog {
        id: alert
        objectName: "alert"
        title: "Slimreel"
        message: root.app.alertMessage
        actions: [{ text: "好", role: "default" }]
        // However it goes away, the message has been seen.
        onClosed: root.app.dismissAlert()
    }

    PromptDialog {
        id: confirmation
        objectName: "removalConfirmation"
        title: "移除当前视频？"
        message: "当前任务将被取消，原视频和已经导出的文件不会被删除。"
        actions: [{ text: "继续处理", role: "cancel" }, { text: "取消任务并移除", role: "destructive" }]
        onChosen: index => {
            if (index === 1)
                root.removeCurrentVideo()
        }
    }
}
