// The stereo vectorscope panel: which song it follows, showing, hiding and closing it, its stored
// frame, and the toggle state kept under "showVectorscope".
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

#include "analysis/VectorscopeFeed.h"
#include "platform/FloatingPanel.h"
#include "platform/Preferences.h"

namespace korvanta {

// One shared instance for the process (created on first use, never destroyed). Main thread only.
class VectorscopeManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY isVisibleChanged)
    Q_PROPERTY(bool isPinned READ isPinned NOTIFY isPinnedChanged)
    Q_PROPERTY(VectorscopeFeed* currentAnalyzer READ currentAnalyzer NOTIFY currentAnalyzerChanged)

public:
    static constexpr int kWidth = 280;
    static constexpr int kHeight = 260;
    static constexpr const char* kTitle = "Stereo Vectorscope";
    // Dots of the original mix and of a rendering.
    static QColor originalColor() { return QColor(0x30, 0xD1, 0x58); }
    static QColor renderingColor() { return QColor(0xFF, 0xD6, 0x0A); }

    static VectorscopeManager* shared();
    explicit VectorscopeManager(Preferences& store, QObject* parent = nullptr);
    ~VectorscopeManager() override;

    bool isVisible() const { return isVisible_; }
    void setIsVisible(bool value);
    bool isPinned() const { return isPinned_; }
    void setIsPinned(bool value);
    VectorscopeFeed* currentAnalyzer() const { return currentAnalyzer_; }
    bool hasPanel() const { return panel_ != nullptr; }
    bool panelIsVisible() const;
    FloatingPanel* panel() const { return panel_.get(); }

    // The source the results screen points the panel at.
    QPointer<QObject> currentPlayer;
    QUrl currentURL;
    bool currentIsOriginal = true;
    QString currentTitle;

    // The toolbar's toggle turned on: follows what plays, or shows "No Audio Playing" and asks the
    // results screen ("RequestCurrentPlayback") 0.1 s later.
    Q_INVOKABLE void openVectorscope();
    // The toggle turned off: a pinned panel is only taken off the screen.
    Q_INVOKABLE void hideVectorscope();
    // Resets and quitting: the panel goes for good.
    Q_INVOKABLE void closeVectorscope();
    void showVectorscope(QObject* player, const QUrl& url, bool isOriginal, const QString& title);
    // Replaces the source of the open panel without moving it.
    void updateVectorscope(QObject* player, const QUrl& url, bool isOriginal, const QString& title);
    void showEmptyVectorscope();
    // Stops and drops the current feed.
    void dropAnalyzer();
    // Feeds refresh by themselves (tests turn this off and tick them).
    void setAutoRefresh(bool value) { autoRefresh_ = value; }

signals:
    void isVisibleChanged();
    void isPinnedChanged();
    void currentAnalyzerChanged();

private:
    void ensurePanel();
    void setContent();
    void restoreFrame();
    void saveFrame();
    void userClosed();
    void releasePanel();
    void storeShown(bool value);

    Preferences& store_;
    std::unique_ptr<FloatingPanel> panel_;
    QPointer<VectorscopeFeed> currentAnalyzer_;
    bool isVisible_ = false;
    bool isPinned_ = false;
    bool contentIsOriginal_ = true;
    QString contentTitle_;
    bool autoRefresh_ = true;
};

}  // namespace korvanta
