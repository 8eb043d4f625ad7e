#include "AboutDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tf {

const char* const AboutDialog::kVersion = "v0.8.9";

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutDialog");
    setWindowTitle("About OrinelReader");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString("Version: ") + kVersion, this));
    layout->addSpacing(8);
    layout->addWidget(new QLabel("Hot Keys", this));

    // Key and action in two columns where the original lined them up with tabs.
    static const char* const kKeys[][2] = {
        {"Up/Down", "Scroll"},
        {"Left/Right", "Page scroll"},
        {"Ctrl+Up/Down", "Font size"},
        {"Ctrl+Left/Right", "Step chapter"},
        {"F11", "Full screen"},
        {"Ctrl+T", "Table of contents"},
    };
    auto* keys = new QGridLayout();
    keys->setContentsMargins(8, 0, 0, 0);
    keys->setHorizontalSpacing(24);
    keys->setVerticalSpacing(2);
    int row = 0;
    for (const auto& key : kKeys) {
        keys->addWidget(new QLabel(key[0], this), row, 0);
        keys->addWidget(new QLabel(key[1], this), row, 1);
        ++row;
    }
    layout->addLayout(keys);
    layout->addSpacing(8);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace tf
