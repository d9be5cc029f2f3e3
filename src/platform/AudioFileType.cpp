#include "platform/AudioFileType.h"

#include <QMimeDatabase>

#include "app/ImportRules.h"

namespace korvanta {

bool looksLikeAudioFile(const QString& path) {
    if (hasAcceptedAudioExtension(path.toStdString())) return true;
    static const QMimeDatabase mimeDatabase;
    return mimeDatabase.mimeTypeForFile(path).name().startsWith(QLatin1String("audio/"));
}

QString firstAudioFile(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && looksLikeAudioFile(url.toLocalFile())) return url.toLocalFile();
    }
    return {};
}

}  // namespace korvanta
