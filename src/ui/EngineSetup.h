// What every engine that shows the window needs: the fonts, the module's import path, the image
// provider of the cover art and the factory of the floating panels.
#pragma once

#include <QQmlApplicationEngine>

namespace korvanta {

void setUpEngine(QQmlApplicationEngine& engine);

}  // namespace korvanta
