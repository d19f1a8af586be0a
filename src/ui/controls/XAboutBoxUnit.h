#pragma once

// TAboutBoxForm: the About box's window, 352 x 257 with a fixed layout: the
// logo and the product picture in a framed bevel, then the product name, the
// version, the copyright line, the maker's link and one free line, and "确定".
// TAboutBox (XAboutBoxComp) fills it and shows it.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace zx {

class TLink;

class TAboutBoxForm : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBoxForm(QWidget* parent = nullptr);

    QFrame* Bevel = nullptr;
    QLabel* LogoImage = nullptr;
    QLabel* ProductImage = nullptr;
    QLabel* ProductLabel = nullptr;
    QLabel* VersionLabel = nullptr;
    QLabel* CopyrightLabel = nullptr;
    TLink* CompanyLink = nullptr;
    QLabel* InfoLabel = nullptr;
    QPushButton* OKButton = nullptr;

    static constexpr int kClientWidth = 352;
    static constexpr int kClientHeight = 257;

protected:
    // The title names what the product label shows.
    void showEvent(QShowEvent* event) override;
};

} // namespace zx
