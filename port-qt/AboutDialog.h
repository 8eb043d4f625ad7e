#pragma once

#include <QDialog>

namespace tf {

// "About OrinelReader": the version and the hot keys, closed with OK.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    static const char* const kVersion;
};

} // namespace tf
