#pragma once

// TAboutBox: the About box as the program uses it. It holds what the box shows
// (product picture, name, version, copyright holder, the maker's address and
// one free line) and, for each Execute, makes a TAboutBoxForm, fills it,
// centres it on the screen and shows it modally.

#include <QImage>
#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace zx {

class TAboutBoxForm;

class TAboutBox : public QObject {
    Q_OBJECT

public:
    explicit TAboutBox(QObject* parent = nullptr);

    // The product picture; the box keeps its own copy.
    const QImage& Bitmap() const { return m_bitmap; }
    void SetBitmap(const QImage& value) { m_bitmap = value; }
    // The maker's name: kept, not shown.
    const QString& Company() const { return m_company; }
    void SetCompany(const QString& value) { m_company = value; }
    // Shown in bold; when empty, the application's title stands there.
    const QString& Product() const { return m_product; }
    void SetProduct(const QString& value) { m_product = value; }
    // Kept as given, which is what the install record compares; the box shows
    // its translation (context "zx::TAboutBox") where there is one.
    const QString& Version() const { return m_version; }
    void SetVersion(const QString& value) { m_version = value; }
    // The holder line, shown after "© ".
    const QString& Copyright() const { return m_copyright; }
    void SetCopyright(const QString& value) { m_copyright = value; }
    // The maker's address: the link's text and what it opens.
    const QString& Link() const { return m_link; }
    void SetLink(const QString& value) { m_link = value; }
    const QString& InfoText() const { return m_infoText; }
    void SetInfoText(const QString& value) { m_infoText = value; }

    // Shows the box; true when it was closed with "确定".
    bool Execute(QWidget* parent = nullptr);

    // Puts the properties into a form, as Execute does.
    void Fill(TAboutBoxForm& form) const;

    // Tests run the filled form themselves instead of the modal loop: the hook
    // gets the form, centred and ready to show, and returns its result
    // (QDialog::Accepted or Rejected). An empty hook restores the modal loop.
    using TAboutBoxHook = std::function<int(TAboutBoxForm& form)>;
    static void SetAboutBoxHook(TAboutBoxHook hook);

private:
    QImage m_bitmap;
    QString m_company;
    QString m_product;
    QString m_version;
    QString m_copyright;
    QString m_link;
    QString m_infoText;
};

} // namespace zx
