// The models of the lower layers as QML types of the module "Korvanta".
#pragma once

#include <QObject>
#include <QJSEngine>
#include <QQmlEngine>

#include "mastering/BatchProcessor.h"
#include "reference/ReferenceTrackManager.h"
#include "app/AudioSettingsManager.h"

namespace korvanta::qml {

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
        auto* manager = korvanta::ReferenceTrackManager::shared();
        engine->setObjectOwnership(manager, QJSEngine::CppOwnership);
        return manager;
    }
};

}  // namespace korvanta::qml
