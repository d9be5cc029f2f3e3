// The models of the lower layers as QML types of the module "Korvanta".
#pragma once

#include <QJSEngine>
#include <QObject>
#include <QQmlEngine>

#include "analysis/VectorscopeFeed.h"
#include "analysis/VectorscopeManager.h"
#include "app/AudioSettingsManager.h"
#include "app/ResultPlayback.h"
#include "app/ContentView.h"
#include "app/EQManager.h"
#include "app/ProcessingQueueModel.h"
#include "app/SettingsViewModel.h"
#include "app/SettingsWindowManager.h"
#include "app/SongListModel.h"
#include "export/ResultViewModel.h"
#include "mastering/BatchProcessor.h"
#include "platform/NotificationCenter.h"
#include "playback/AudioPlayerManager.h"
#include "reference/ReferenceTrackManager.h"
#include "ui/eq/EqualizerCurve.h"
#include "ui/eq/EqualizerModel.h"
#include "ui/vectorscope/VectorscopeShape.h"

namespace korvanta::qml {

// A process-wide instance handed to QML, which must never delete it.
template <typename T>
T* sharedForQml(T* instance, QJSEngine* engine) {
    engine->setObjectOwnership(instance, QJSEngine::CppOwnership);
    return instance;
}

struct ContentViewType {
    Q_GADGET
    QML_FOREIGN(korvanta::ContentView)
    QML_NAMED_ELEMENT(ContentView)
};

struct SongListModelType {
    Q_GADGET
    QML_FOREIGN(korvanta::SongListModel)
    QML_NAMED_ELEMENT(SongListModel)
};

struct ProcessingQueueModelType {
    Q_GADGET
    QML_FOREIGN(korvanta::ProcessingQueueModel)
    QML_NAMED_ELEMENT(ProcessingQueueModel)
};

struct ResultViewModelType {
    Q_GADGET
    QML_FOREIGN(korvanta::ResultViewModel)
    QML_NAMED_ELEMENT(ResultViewModel)
    QML_UNCREATABLE("owned by the main window")
};

struct SettingsViewModelType {
    Q_GADGET
    QML_FOREIGN(korvanta::SettingsViewModel)
    QML_NAMED_ELEMENT(SettingsViewModel)
    QML_UNCREATABLE("made by the settings panel")
};

struct BatchProcessorType {
    Q_GADGET
    QML_FOREIGN(korvanta::BatchProcessor)
    QML_NAMED_ELEMENT(BatchProcessor)
    QML_UNCREATABLE("owned by the main window")
};

struct AudioSettingsManagerType {
    Q_GADGET
    QML_FOREIGN(korvanta::AudioSettingsManager)
    QML_NAMED_ELEMENT(AudioSettingsManager)
    QML_UNCREATABLE("owned by the main window")
};

struct ReferenceTrackManagerType {
    Q_GADGET
    QML_FOREIGN(korvanta::ReferenceTrackManager)
    QML_NAMED_ELEMENT(ReferenceTrackManager)
    QML_SINGLETON

public:
    static korvanta::ReferenceTrackManager* create(QQmlEngine*, QJSEngine* engine) {
        return sharedForQml(korvanta::ReferenceTrackManager::shared(), engine);
    }
};

struct SettingsWindowManagerType {
    Q_GADGET
    QML_FOREIGN(korvanta::SettingsWindowManager)
    QML_NAMED_ELEMENT(SettingsWindowManager)
    QML_SINGLETON

public:
    static korvanta::SettingsWindowManager* create(QQmlEngine*, QJSEngine* engine) {
        return sharedForQml(korvanta::SettingsWindowManager::shared(), engine);
    }
};

struct ResultPlaybackType {
    Q_GADGET
    QML_FOREIGN(korvanta::ResultPlayback)
    QML_NAMED_ELEMENT(ResultPlayback)
    QML_UNCREATABLE("owned by the main window")
};

struct AudioPlayerManagerType {
    Q_GADGET
    QML_FOREIGN(korvanta::AudioPlayerManager)
    QML_NAMED_ELEMENT(AudioPlayerManager)
    QML_UNCREATABLE("the shared player")
};

struct EQManagerType {
    Q_GADGET
    QML_FOREIGN(korvanta::EQManager)
    QML_NAMED_ELEMENT(EQManager)
    QML_UNCREATABLE("the shared equaliser manager")
};

struct EqualizerModelType {
    Q_GADGET
    QML_FOREIGN(korvanta::EqualizerModel)
    QML_NAMED_ELEMENT(EqualizerModel)
};

struct EqualizerCurveType {
    Q_GADGET
    QML_FOREIGN(korvanta::EqualizerCurve)
    QML_NAMED_ELEMENT(EqualizerCurve)
};

struct VectorscopeShapeType {
    Q_GADGET
    QML_FOREIGN(korvanta::VectorscopeShape)
    QML_NAMED_ELEMENT(VectorscopeShape)
};

struct VectorscopeFeedType {
    Q_GADGET
    QML_FOREIGN(korvanta::VectorscopeFeed)
    QML_NAMED_ELEMENT(VectorscopeFeed)
    QML_UNCREATABLE("made by the vectorscope manager")
};

struct VectorscopeManagerType {
    Q_GADGET
    QML_FOREIGN(korvanta::VectorscopeManager)
    QML_NAMED_ELEMENT(VectorscopeManager)
    QML_SINGLETON
public:
    static korvanta::VectorscopeManager* create(QQmlEngine*, QJSEngine* engine) {
        return sharedForQml(korvanta::VectorscopeManager::shared(), engine);
    }
};

struct NotificationCenterType {
    Q_GADGET
    QML_FOREIGN(korvanta::NotificationCenter)
    QML_NAMED_ELEMENT(NotificationCenter)
    QML_SINGLETON

public:
    static korvanta::NotificationCenter* create(QQmlEngine*, QJSEngine* engine) {
        return sharedForQml(korvanta::NotificationCenter::shared(), engine);
    }
};

}  // namespace korvanta::qml
