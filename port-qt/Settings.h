#pragma once

#include <QByteArray>
#include <QString>

#include "src/ThemeStyle.h"

namespace tf {

// The reader's remembered choices, kept in an INI file in the XDG
// configuration folder ($XDG_CONFIG_HOME/OrinelReader/settings.conf): the
// window's geometry and state, whether the contents panel is shown and its
// width, the theme and the text layout. The file's location is read when the
// object is made, so a test that points XDG_CONFIG_HOME elsewhere first gets
// a fresh file. Values out of range read as their defaults. Window thread only.
class Settings {
public:
    Settings();

    // The file the settings live in.
    QString fileName() const { return m_file; }

    ThemeStyle readingStyle() const;
    void setReadingStyle(const ThemeStyle& style);

    QByteArray windowGeometry() const;
    QByteArray windowState() const;
    void setWindow(const QByteArray& geometry, const QByteArray& state);

    bool panelShown() const;
    // The panel's width in pixels; 0 when never set.
    int panelWidth() const;
    void setPanel(bool shown, int width);

private:
    QString m_file;
};

} // namespace tf
