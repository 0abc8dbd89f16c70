#pragma once

#include <QWidget>

class SkinButton;
class SkinEdit;
class SkinLabel;

// One row of the pause list: the program name shown (view), or typed (new,
// edit), with the buttons that go with each state.
class SettingListItem : public QWidget {
    Q_OBJECT
public:
    explicit SettingListItem(QWidget* parent = nullptr);

    // Finds the row's controls once the row's layout is built.
    void Bind();
    // View: the label with edit and delete; otherwise the typing state's buttons.
    void SetViewMode(bool view);
    // Puts the row into its edit state with the label's name to change; false
    // (row unchanged) when the label is empty.
    bool BeginEdit();
    // Takes the typed name when there is one and goes back to view.
    bool ConfirmEdit();

    QString Name() const { return m_name; }
    // Sets the stored name and the label's text.
    void SetName(const QString& name);
    // The name the label holds: the last confirmed one.
    QString LabelText() const;

    SkinLabel* NameLabel() const { return m_nameLabel; }
    SkinEdit* NameEdit() const { return m_nameEdit; }

private:
    bool Complete() const;

    QString m_name;
    SkinLabel* m_nameLabel = nullptr;
    SkinEdit* m_nameEdit = nullptr;
    SkinButton* m_editBtn = nullptr;
    SkinButton* m_saveBtn = nullptr;
    SkinButton* m_cancelBtn = nullptr;
    SkinButton* m_deleteBtn = nullptr;
};
