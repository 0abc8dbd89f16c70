#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QEventLoop;
class SkinBuilder;

// A notification from a control of a window: "click", "selectchanged" or
// "valuechanged", with the control that sent it.
struct TNotify {
    QString type;
    QWidget* sender = nullptr;
};

// Base of every skinned window: builds the window from its layout in the skin
// archive, finds controls by name, turns the controls' signals into
// notifications, runs the window modally and closes it with a code, and gives
// the window a look at its key presses before the controls get them.
class WindowImplBase : public QWidget {
    Q_OBJECT
public:
    WindowImplBase();
    ~WindowImplBase() override;

    // Builds the window from its layout. With an `owner` the window is that
    // window's dialog: kept above it by the desktop, without a taskbar entry of
    // its own, centred over it, and the owner is disabled while it runs modally.
    bool Create(QWidget* owner, const QString& title);
    void CenterWindow();
    // Shows the window and runs a nested loop until it is closed; returns the code.
    int ShowModal();
    // Closes the window with `code`. Safe from any thread: the close is queued
    // to the window's own thread.
    void Close(int code);
    bool IsClosed() const { return m_closed; }
    // Whether the window draws its own rounded corners and shadow (the desktop
    // composes translucent windows), rather than the square look.
    bool Composed() const { return m_composed; }
    int CloseCode() const { return m_code; }

    // The control named `name`: spelled exactly, else with letter case ignored; or nullptr.
    QWidget* FindControl(const QString& name) const;
    template <typename T>
    T* FindControl(const QString& name) const {
        return qobject_cast<T*>(FindControl(name));
    }
    // Routes the signals of `root` and its controls to Notify (for controls
    // made after the window, such as list rows).
    void HookControls(QWidget* root);

    virtual QString GetWindowClassName() const = 0;
    virtual QString GetSkinFile() const = 0;

signals:
    void closed(int code);

protected:
    // Called once the layout is built.
    virtual void InitWindow() {}
    // Every notification; the base sends "click" to OnClick.
    virtual void Notify(const TNotify& msg);
    // The toolkit's default click handling: "closebtn" closes with 1, "minbtn" minimises.
    virtual void OnClick(const TNotify& msg);
    // Sees the window's key presses before its controls; true swallows the event.
    virtual bool MessageHandler(QEvent* event);
    // Called once when the window has gone (after its modal run, if any).
    virtual void OnFinalMessage() {}
    // Whether a close that did not come through Close() (the window manager,
    // Alt+F4) may close the window.
    virtual bool AllowSystemClose() const { return true; }
    // Custom controls of the layout that the builder does not know.
    virtual QWidget* CreateControl(const QString& className, QWidget* parent);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    QWidget* Form() const { return m_form; }
    QWidget* Owner() const { return m_owner; }

private:
    void ApplyLook();
    void AttachToOwner();
    void DoClose(int code);
    void FinalMessage();

    QWidget* m_form = nullptr;
    QPointer<QWidget> m_owner;
    QEventLoop* m_loop = nullptr;
    int m_caption = 0;           // height of the drag area; -1 is the whole window
    int m_radius = 0;            // the layout's corner radius
    int m_shadow = 0;            // the layout's shadow size
    bool m_transparent = false;  // the layout wants no background at all
    bool m_composed = false;
    int m_code = 0;
    bool m_closing = false;
    bool m_closed = false;
    bool m_finalDone = false;
};
