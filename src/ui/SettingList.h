#pragma once

#include <QByteArray>
#include <QListWidget>

#include <functional>

class SettingListItem;

// The pause-list editor's list. It builds its own rows from the row layout,
// read once and re-used for every later row.
class SettingList : public QListWidget {
    Q_OBJECT
public:
    explicit SettingList(QWidget* parent = nullptr);

    // A new row from the row layout (new state), not yet in the list; nullptr
    // when the layout cannot be built.
    SettingListItem* CreateRow();
    // Puts the row in the list at `index` (-1: at the end); false, and the
    // caller keeps the row, when it cannot be placed.
    bool InsertRow(SettingListItem* row, int index = -1);
    // Takes the row out of the list and destroys it.
    void RemoveRow(SettingListItem* row);
    int RowCount() const { return count(); }
    SettingListItem* RowAt(int index) const;

private:
    QByteArray m_rowLayout;
    bool m_layoutRead = false;
};
