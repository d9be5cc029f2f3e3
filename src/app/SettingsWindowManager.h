// The settings panel: opening, closing, its stored position, and the settings it edits that live
// only in the preferences store (export format, cover art).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "app/AudioSettingsManager.h"
#include "mastering/BatchProcessor.h"
#include "platform/FloatingPanel.h"
#include "platform/Preferences.h"

namespace korvanta {

// One shared instance for the process (created on first use, never destroyed). Main thread only.
class SettingsWindowManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY isVisibleChanged)
    // What the open panel was given by the main window.
    Q_PROPERTY(AudioSettingsManager* settingsManager READ settingsManager NOTIFY contextChanged)
    Q_PROPERTY(BatchProcessor* batchProcessor READ batchProcessor NOTIFY contextChanged)
    Q_PROPERTY(bool isFromResultsView READ isFromResultsView NOTIFY contextChanged)
    Q_PROPERTY(bool hasImportedFiles READ hasImportedFiles NOTIFY contextChanged)
    Q_PROPERTY(bool canRemaster READ canRemaster NOTIFY contextChanged)

public:
    static constexpr int kMinimumWidth = 400;
    static constexpr int kMinimumHeight = 400;

    static SettingsWindowManager* shared();
    explicit SettingsWindowManager(Preferences& store, QObject* parent = nullptr);
    ~SettingsWindowManager() override;

    bool isVisible() const { return isVisible_; }
    AudioSettingsManager* settingsManager() const { return settingsManager_; }
    BatchProcessor* batchProcessor() const { return batchProcessor_; }
    bool isFromResultsView() const { return isFromResultsView_; }
    bool hasImportedFiles() const { return hasImportedFiles_; }
    bool canRemaster() const { return bool(onRemasterAction_) && isFromResultsView_ && hasImportedFiles_; }

    // Opens the panel (or only brings it to the front when it is open already).
    void showSettings(AudioSettingsManager* settingsManager, bool isFromResultsView,
                      bool hasImportedFiles, BatchProcessor* batchProcessor,
                      std::function<void()> onRemasterAction);
    // Saves the frame and closes the panel; posts "SettingsWindowClosed". Nothing when closed.
    Q_INVOKABLE void closeSettings();

    // Runs the remaster the main window handed over (closing the panel first).
    Q_INVOKABLE void remaster();

    // The part of "Clean All Data" after the user confirmed it: renderings removed, preferences
    // reset, reference forgotten, panel closed, "ResetApplicationToDefaults" posted; then
    // dataCleaned() (the window shows its message 0.2 s later).
    Q_INVOKABLE void cleanAllData();

    // Export format and cover art, read from and written to the store.
    Q_INVOKABLE QString storedExportFormat() const;  // "WAV" or "M4A"
    // Stores the format and, with it, "highQualityMode" (false for M4A, else `highQualityMode`).
    Q_INVOKABLE void storeExportFormat(const QString& format, bool highQualityMode);
    Q_INVOKABLE bool storedArtworkEnabled() const;
    Q_INVOKABLE void storeArtworkEnabled(bool enabled);
    // The stored image bytes (empty when none are stored).
    Q_INVOKABLE QByteArray storedArtwork() const;
    // Reads the image file whole and checks on a worker thread that its bytes decode as an image;
    // then, on the main thread, stores them unchanged (artworkChanged()) or changes nothing
    // (artworkRejected()).
    Q_INVOKABLE void chooseArtworkFile(const QString& pathOrUrl);
    Q_INVOKABLE void removeArtwork();

    // Where a panel with no stored position is placed: centred on the main screen's visible area.
    static PanelFrame restoredFrame(const std::optional<PanelFrame>& stored, const PanelFrame& screen,
                                    const PanelFrame& current);

signals:
    void isVisibleChanged();
    void contextChanged();
    void dataCleaned();
    void artworkChanged();
    void artworkRejected();

private:
    void saveFrame();
    void panelClosed();
    void setIsVisible(bool value);
    void updateSessionArtwork();

    Preferences& store_;
    std::unique_ptr<FloatingPanel> settingsPanel_;
    bool isVisible_ = false;
    QPointer<AudioSettingsManager> settingsManager_;
    QPointer<BatchProcessor> batchProcessor_;
    bool isFromResultsView_ = false;
    bool hasImportedFiles_ = false;
    std::function<void()> onRemasterAction_;
};

}  // namespace korvanta
