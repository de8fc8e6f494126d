#pragma once

#include "components/DesktopScreen.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

class QWidget;

namespace vestrel {

class RegistryIniFile;
class TControlList;

// Raised by a TControlItem refusing a control.
class ControlListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A form's destroy handler, called with the form as Sender before its controls go.
using TFormNotifyEvent = std::function<void(QObject* Sender)>;

// One child control whose alignment, bounds and visibility are kept. The alignment is the control's
// "Align" property (an integer: 0 none, 1 top, 2 bottom, 3 left, 4 right, 5 client, 6 custom), which
// the form's own layout code reads.
class TControlItem {
public:
    explicit TControlItem(TControlList* collection)
        : m_collection(collection) {}

    QWidget* Control() const { return m_control; }
    // Raises ControlListError for no control or one another item of the list already names; the item
    // then keeps its previous control.
    void SetControl(QWidget* control);
    // Copies this item's control into `dest` through its checks.
    void AssignTo(TControlItem& dest) const;
    // The control's name, its class name when it has none, or the item's class name without a control.
    QString GetDisplayName() const;

private:
    TControlList* m_collection;
    QPointer<QWidget> m_control;
};

// The child controls a TFormSaver keeps, in order.
class TControlList {
public:
    TControlItem& Add();
    int Count() const { return int(m_items.size()); }
    TControlItem& Items(int index) { return *m_items.at(index); }
    const TControlItem& Items(int index) const { return *m_items.at(index); }
    void Clear() { m_items.clear(); }

private:
    std::vector<std::unique_ptr<TControlItem>> m_items;
};

// Keeps a form's position, size, window state and monitor, and the layout of chosen child controls,
// under a key of the current user's registry: restored when the form has been set up (Loaded), saved
// when the form is destroyed.
//
// The layout lives in regKey\FormName (values "Left", "Top", "Width", "Height", "MonitorNum",
// "WindowState": 0 normal, 1 maximised, 2 minimised) and regKey\FormName\ControlName (values "Left",
// "Top", "Width", "Height", "Align", "Visible"), every value a decimal string.
class TFormSaver : public QObject {
    Q_OBJECT

public:
    // Only one TFormSaver may sit on a form: earlier ones are taken off it (and freed) with a message.
    // `screen` null means the real screens.
    explicit TFormSaver(QWidget* owner, DesktopScreen* screen = nullptr);
    ~TFormSaver() override;

    QString regKey; // below HKEY_CURRENT_USER; empty switches the component off
    int mLeft = 0;  // used when nothing is stored, when above 0
    int mTop = 0;
    int mWidth = 0;
    int mheight = 0;
    TControlList& ChildToSave() { return m_childToSave; }

    // Restores the layout and takes the form's destroy handler over: `formOnDestroy` then saves the
    // layout before calling the handler it held. Without a handler to take over, the layout is saved
    // when this component is destroyed with the form; create it before the controls it keeps, so that
    // they still exist then.
    void Loaded(TFormNotifyEvent* formOnDestroy = nullptr);

    void RestoreLayout();
    void SaveLayout();
    void SaveOnDestroy(QObject* Sender);

    // Shows the one-instance message; replaceable for tests.
    static std::function<void(const QString& text)>& ErrorBox();

private:
    // The form's bounds, state and monitor; its name is kept from the restore, because a form saved
    // while it is being destroyed no longer knows its own class.
    void captureForm();
    QByteArray formName() const;
    int monitorOf(const QRect& frame) const;
    void keepOnScreen(QRect& bounds, int monitor) const;

    QPointer<QWidget> m_form;
    DesktopScreen* m_screen;
    TControlList m_childToSave;
    TFormNotifyEvent m_previousOnDestroy;
    bool m_loaded = false;
    bool m_saved = false;

    // The form's values as last read or captured.
    QByteArray m_formName;
    int m_left = 0;
    int m_top = 0;
    int m_width = 0;
    int m_height = 0;
    int m_windowState = 0;
    int m_monitorNum = 0;
};

} // namespace vestrel
