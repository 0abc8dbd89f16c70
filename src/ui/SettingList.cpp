#include "ui/SettingList.h"

#include "ui/SettingListItem.h"
#include "ui/SkinArchive.h"
#include "ui/SkinBuilder.h"
#include "ui/SkinControls.h"

SettingList::SettingList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollBar(new SkinScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new SkinScrollBar(Qt::Horizontal, this));
    setFocusPolicy(Qt::NoFocus);
}

SettingListItem* SettingList::CreateRow() {
    if (!m_layoutRead) {
        m_layoutRead = true;
        SkinArchive::Instance().ReadFile(QStringLiteral("xmls\\SettingListItem.xml"), m_rowLayout);
    }
    if (m_rowLayout.isEmpty()) {
        return nullptr;
    }
    SkinBuilder builder([](const QString& className, QWidget* parent) -> QWidget* {
        if (className == QLatin1String("SettingListItem")) {
            return new SettingListItem(parent);
        }
        return nullptr;
    });
    QWidget* built = builder.BuildFrom(m_rowLayout, nullptr);
    auto* row = qobject_cast<SettingListItem*>(built);
    if (!row) {
        delete built;
        return nullptr;
    }
    row->Bind();
    return row;
}

bool SettingList::InsertRow(SettingListItem* row, int index) {
    if (!row) {
        return false;
    }
    if (index < 0 || index > count()) {
        index = count();
    }
    auto* item = new QListWidgetItem;
    item->setSizeHint(QSize(0, std::max(30, row->minimumHeight())));
    insertItem(index, item);
    setItemWidget(item, row);
    // Shown now rather than at the view's next layout pass, so the row can be
    // used straight away.
    row->show();
    return true;
}

void SettingList::RemoveRow(SettingListItem* row) {
    for (int i = 0; i < count(); ++i) {
        QListWidgetItem* it = item(i);
        if (itemWidget(it) == row) {
            removeItemWidget(it);
            delete takeItem(i);
            return;
        }
    }
}

SettingListItem* SettingList::RowAt(int index) const {
    QListWidgetItem* it = item(index);
    return it ? qobject_cast<SettingListItem*>(itemWidget(it)) : nullptr;
}
