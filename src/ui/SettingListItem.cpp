#include "ui/SettingListItem.h"

#include "ui/SkinControls.h"

SettingListItem::SettingListItem(QWidget* parent) : QWidget(parent) {}

void SettingListItem::Bind() {
    auto find = [this](const char* name) -> QWidget* {
        const auto children = findChildren<QWidget*>();
        for (QWidget* child : children) {
            if (child->objectName().compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
                return child;
            }
        }
        return nullptr;
    };
    m_nameLabel = qobject_cast<SkinLabel*>(find("nameLabel"));
    m_nameEdit = qobject_cast<SkinEdit*>(find("nameEdit"));
    m_editBtn = qobject_cast<SkinButton*>(find("editbtn"));
    m_saveBtn = qobject_cast<SkinButton*>(find("saveBtn"));
    m_cancelBtn = qobject_cast<SkinButton*>(find("cancelBtn"));
    m_deleteBtn = qobject_cast<SkinButton*>(find("deleteBtn"));
}

bool SettingListItem::Complete() const {
    return m_nameLabel && m_nameEdit && m_editBtn && m_saveBtn && m_cancelBtn && m_deleteBtn;
}

void SettingListItem::SetViewMode(bool view) {
    if (!Complete()) {
        return;
    }
    m_editBtn->setVisible(view);
    m_saveBtn->setVisible(!view);
    m_cancelBtn->setVisible(!view);
    m_deleteBtn->setVisible(view);
    m_nameLabel->setVisible(true);
    m_nameEdit->setVisible(false);
}

bool SettingListItem::BeginEdit() {
    if (!Complete() || m_nameLabel->text().isEmpty()) {
        return false;
    }
    SetViewMode(false);
    m_nameEdit->setText(m_nameLabel->text());
    m_nameLabel->setVisible(false);
    m_nameEdit->setVisible(true);
    m_nameEdit->setFocus();
    return true;
}

bool SettingListItem::ConfirmEdit() {
    if (!m_nameEdit || !m_nameLabel) {
        return false;
    }
    const QString text = m_nameEdit->text().trimmed();
    if (text.isEmpty()) {
        return false;
    }
    SetName(text);
    SetViewMode(true);
    return true;
}

void SettingListItem::SetName(const QString& name) {
    m_name = name;
    if (m_nameLabel) {
        m_nameLabel->setText(name);
    }
}

QString SettingListItem::LabelText() const {
    return m_nameLabel ? m_nameLabel->text() : QString();
}
