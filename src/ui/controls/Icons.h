// The icon table as QML reads it: Icons.glyph("trash") is the text to draw in Icons.fontFamily.
#pragma once

#include <QObject>
#include <QQmlEngine>
#include <QSet>
#include <QString>

namespace korvanta {

// Main thread only.
class Icons : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT)

public:
    // `fontFamily` empty: no icon font, every glyph is empty. The QML instance takes the family
    // that appFonts() loaded.
    explicit Icons(QObject* parent = nullptr);
    Icons(QString fontFamily, QObject* parent);

    QString fontFamily() const { return fontFamily_; }

    // The glyph for a symbol name; empty for "" and for a name the table does not know (which
    // is reported once on standard output).
    Q_INVOKABLE QString glyph(const QString& name);

private:
    QString fontFamily_;
    QSet<QString> reported_;
};

}  // namespace korvanta
