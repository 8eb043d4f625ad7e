#include "PreferencesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tf {

namespace {

const int kSpacings[] = {0, 120, 150, 180, 200};

} // namespace

PreferencesDialog::PreferencesDialog(const ThemeStyle& style, QWidget* parent) : QDialog(parent) {
    setObjectName("preferencesDialog");
    setWindowTitle("Preferences");

    m_theme = new QComboBox(this);
    m_theme->setObjectName("themeBox");
    m_theme->addItem("Light", ThemeStyle::THEME_LIGHT);
    m_theme->addItem("Sepia", ThemeStyle::THEME_SEPIA);
    m_theme->addItem("Dark", ThemeStyle::THEME_DARK);
    m_theme->setCurrentIndex(m_theme->findData(style.theme));

    m_width = new QComboBox(this);
    m_width->setObjectName("widthBox");
    m_width->addItem("Narrow", ThemeStyle::WIDTH_NARROW);
    m_width->addItem("Medium", ThemeStyle::WIDTH_MEDIUM);
    m_width->addItem("Wide", ThemeStyle::WIDTH_WIDE);
    m_width->addItem("Full window", ThemeStyle::WIDTH_FULL);
    m_width->setCurrentIndex(m_width->findData(style.lineWidth));

    m_margin = new QSpinBox(this);
    m_margin->setObjectName("marginBox");
    m_margin->setRange(ThemeStyle::kMinMargin, ThemeStyle::kMaxMargin);
    m_margin->setSuffix(" px");
    m_margin->setValue(style.margin);

    m_spacing = new QComboBox(this);
    m_spacing->setObjectName("spacingBox");
    for (int spacing : kSpacings)
        m_spacing->addItem(spacing == 0 ? QString("As the book sets it") : QString("%1 %").arg(spacing), spacing);
    const int spacingIndex = m_spacing->findData(style.lineSpacing);
    if (spacingIndex < 0)
        m_spacing->addItem(QString("%1 %").arg(style.lineSpacing), style.lineSpacing);
    m_spacing->setCurrentIndex(spacingIndex >= 0 ? spacingIndex : m_spacing->count() - 1);

    m_font = new QComboBox(this);
    m_font->setObjectName("fontBox");
    m_font->addItem("The reader's default", QString());
    for (const QString& family : QFontDatabase::families())
        m_font->addItem(family, family);
    const QString family = QString::fromStdString(style.fontFamily);
    int fontIndex = m_font->findData(family);
    if (fontIndex < 0) {
        m_font->addItem(family, family);
        fontIndex = m_font->count() - 1;
    }
    m_font->setCurrentIndex(family.isEmpty() ? 0 : fontIndex);

    m_override = new QCheckBox("Use my font and line spacing in books that set their own", this);
    m_override->setObjectName("overrideBox");
    m_override->setChecked(style.overrideBook);

    auto* form = new QFormLayout;
    form->addRow("Theme:", m_theme);
    form->addRow("Line width:", m_width);
    form->addRow("Margin:", m_margin);
    form->addRow("Line spacing:", m_spacing);
    form->addRow("Font:", m_font);
    form->addRow(QString(), m_override);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

ThemeStyle PreferencesDialog::style() const {
    ThemeStyle style;
    style.theme = static_cast<ThemeStyle::Theme>(m_theme->currentData().toInt());
    style.lineWidth = static_cast<ThemeStyle::LineWidth>(m_width->currentData().toInt());
    style.margin = m_margin->value();
    style.lineSpacing = m_spacing->currentData().toInt();
    style.fontFamily = m_font->currentData().toString().toStdString();
    style.overrideBook = m_override->isChecked();
    return style;
}

} // namespace tf
