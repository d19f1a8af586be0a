#include "ui/controls/XRadioGroupComp.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace zx {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent,
    Qt::Orientation orientation)
    : QGroupBox(caption, parent)
    , m_buttons(new QButtonGroup(this))
{
    QBoxLayout* layout = orientation == Qt::Vertical ? static_cast<QBoxLayout*>(new QVBoxLayout(this))
                                                     : new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(2);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        m_buttons->addButton(button, i);
        layout->addWidget(button);
    }
    connect(m_buttons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            emit OnClick(this);
    });
}

int TRadioGroup::ItemIndex() const
{
    return m_buttons->checkedId();
}

int TRadioGroup::Count() const
{
    return int(m_buttons->buttons().size());
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index == ItemIndex())
        return;
    if (index >= 0 && index < Count()) {
        m_buttons->button(index)->setChecked(true);
        return;
    }
    // Clearing an exclusive group needs exclusivity off for a moment.
    if (QAbstractButton* checked = m_buttons->checkedButton()) {
        m_buttons->setExclusive(false);
        checked->setChecked(false);
        m_buttons->setExclusive(true);
        emit OnClick(this);
    }
}

} // namespace zx
