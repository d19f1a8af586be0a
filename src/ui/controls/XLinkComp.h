#pragma once

// TLink: a text label that opens an address. Pure blue and underlined, with
// the hand cursor; a click fires OnClick first and then asks the desktop to
// open URLString with its default handler. An address that cannot be opened
// is passed over in silence: a link is an offer, not a command that can fail.

#include <QLabel>
#include <QString>
#include <functional>

namespace zx {

class TLink : public QLabel {
    Q_OBJECT

public:
    explicit TLink(QWidget* parent = nullptr);

    // The address to open; empty opens nothing.
    const QString& URLString() const { return m_urlString; }
    void SetURLString(const QString& value) { m_urlString = value; }

    // Opens an address with the desktop's default handler and says whether
    // that worked. Tests put their own in; an empty one restores the
    // desktop's.
    using TUrlOpener = std::function<bool(const QString& address)>;
    static void SetUrlOpener(TUrlOpener opener);

signals:
    void OnClick(zx::TLink* sender);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Click();

    QString m_urlString;
    bool m_pressed = false;
};

} // namespace zx
