#pragma once

#include <QDialog>

#include "src/ThemeStyle.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace tf {

// The small Preferences dialog: theme, line width, margin, line spacing, a
// font family for books that set none, and whether the reader's font and
// spacing win over the book's. Shows a style; style() is what it holds now.
class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    explicit PreferencesDialog(const ThemeStyle& style, QWidget* parent = nullptr);

    ThemeStyle style() const;

    QComboBox* themeBox() const { return m_theme; }
    QComboBox* widthBox() const { return m_width; }
    QSpinBox* marginBox() const { return m_margin; }
    QComboBox* spacingBox() const { return m_spacing; }
    QComboBox* fontBox() const { return m_font; }
    QCheckBox* overrideBox() const { return m_override; }

private:
    QComboBox* m_theme = nullptr;
    QComboBox* m_width = nullptr;
    QSpinBox* m_margin = nullptr;
    QComboBox* m_spacing = nullptr;
    QComboBox* m_font = nullptr;
    QCheckBox* m_override = nullptr;
};

} // namespace tf
