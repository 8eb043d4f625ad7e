#include "Settings.h"

#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

#include "utility/log.h"

namespace tf {

namespace {

constexpr int kMaxPanelWidth = 4000;

} // namespace

Settings::Settings() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    m_file = folder + "/OrinelReader/settings.conf";
}

ThemeStyle Settings::readingStyle() const {
    QSettings store(m_file, QSettings::IniFormat);
    ThemeStyle style;
    ThemeStyle::themeFromName(store.value("reading/theme").toString().toStdString(), style.theme);
    ThemeStyle::widthFromName(store.value("reading/lineWidth").toString().toStdString(), style.lineWidth);
    bool ok = false;
    const int margin = store.value("reading/margin").toInt(&ok);
    if (ok && margin >= ThemeStyle::kMinMargin && margin <= ThemeStyle::kMaxMargin)
        style.margin = margin;
    const int spacing = store.value("reading/lineSpacing").toInt(&ok);
    if (ok && (spacing == 0 || (spacing >= ThemeStyle::kMinLineSpacing && spacing <= ThemeStyle::kMaxLineSpacing)))
        style.lineSpacing = spacing;
    const std::string family = store.value("reading/fontFamily").toString().toStdString();
    if (family.size() <= ThemeStyle::kMaxFontFamily)
        style.fontFamily = family;
    style.overrideBook = store.value("reading/overrideBook", false).toBool();
    return style;
}

void Settings::setReadingStyle(const ThemeStyle& style) {
    QSettings store(m_file, QSettings::IniFormat);
    store.setValue("reading/theme", ThemeStyle::themeName(style.theme));
    store.setValue("reading/lineWidth", ThemeStyle::widthName(style.lineWidth));
    store.setValue("reading/margin", style.margin);
    store.setValue("reading/lineSpacing", style.lineSpacing);
    store.setValue("reading/fontFamily", QString::fromStdString(style.fontFamily));
    store.setValue("reading/overrideBook", style.overrideBook);
    store.sync();
    if (store.status() != QSettings::NoError)
        TF_LOG(LOG_WARN, "the settings could not be written: " << m_file.toStdString());
}

QByteArray Settings::windowGeometry() const {
    return QSettings(m_file, QSettings::IniFormat).value("window/geometry").toByteArray();
}

QByteArray Settings::windowState() const {
    return QSettings(m_file, QSettings::IniFormat).value("window/state").toByteArray();
}

void Settings::setWindow(const QByteArray& geometry, const QByteArray& state) {
    QSettings store(m_file, QSettings::IniFormat);
    store.setValue("window/geometry", geometry);
    store.setValue("window/state", state);
    store.sync();
    if (store.status() != QSettings::NoError)
        TF_LOG(LOG_WARN, "the settings could not be written: " << m_file.toStdString());
}

bool Settings::panelShown() const {
    return QSettings(m_file, QSettings::IniFormat).value("panel/shown", false).toBool();
}

int Settings::panelWidth() const {
    bool ok = false;
    const int width = QSettings(m_file, QSettings::IniFormat).value("panel/width").toInt(&ok);
    return ok && width > 0 && width <= kMaxPanelWidth ? width : 0;
}

void Settings::setPanel(bool shown, int width) {
    QSettings store(m_file, QSettings::IniFormat);
    store.setValue("panel/shown", shown);
    if (width > 0)
        store.setValue("panel/width", std::min(width, kMaxPanelWidth));
    store.sync();
}

} // namespace tf
