// Whether a file the user hands over (dropped or chosen) is audio, by its name or its content.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

namespace korvanta {

// True for an accepted audio extension (any case) or, failing that, a file whose content the
// system's type database calls audio/*.
bool looksLikeAudioFile(const QString& path);

// The local path of the first URL that is an audio file, or an empty string.
QString firstAudioFile(const QList<QUrl>& urls);

}  // namespace korvanta
