#pragma once

// TRadioGroup: a captioned group of radio buttons with one ItemIndex, as the
// panel's antialiasing choice uses it. OnClick fires whenever the selection
// changes, also when the program sets ItemIndex (the settings load relies on
// that, as it does for check boxes).

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;

namespace zx {

class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    // The buttons one below the other, or side by side.
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr,
        Qt::Orientation orientation = Qt::Vertical);

    // -1 when nothing is selected.
    int ItemIndex() const;
    // Out-of-range values select nothing.
    void SetItemIndex(int index);
    int Count() const;

signals:
    void OnClick(zx::TRadioGroup* sender);

private:
    QButtonGroup* m_buttons;
};

} // namespace zx
