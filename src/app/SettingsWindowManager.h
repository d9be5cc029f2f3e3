// The settings panel: opening, closing, its stored position, and the settings it edits that live
// only in the preferences store (export format, cover art).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "app/AudioSettingsManager.h"
#include "app/SettingsViewModel.h"
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

    // The open panel's content model (null while closed).
    SettingsViewModel* viewModel() const { return viewModel_; }
    // The stored cover image bytes (empty when none are stored).
    QByteArray storedArtwork() const;

    // Where a panel with no stored position is placed: centred on the main screen's visible area.
    static PanelFrame restoredFrame(const std::optional<PanelFrame>& stored, const PanelFrame& screen,
                                    const PanelFrame& current);

signals:
    void isVisibleChanged();
    void contextChanged();
    void dataCleaned();

private:
    void saveFrame();
    void panelClosed();
    void setIsVisible(bool value);

    Preferences& store_;
    std::unique_ptr<FloatingPanel> settingsPanel_;
    bool isVisible_ = false;
    QPointer<AudioSettingsManager> settingsManager_;
    QPointer<BatchProcessor> batchProcessor_;
    bool isFromResultsView_ = false;
    bool hasImportedFiles_ = false;
    std::function<void()> onRemasterAction_;
    QPointer<SettingsViewModel> viewModel_;
};

}  // namespace korvanta
