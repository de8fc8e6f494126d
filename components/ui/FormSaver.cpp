#include "components/ui/FormSaver.h"

#include "components/ComponentsLog.h"
#include "components/RegistryIniFile.h"
#include "components/ui/QtDesktopScreen.h"
#include "platform/Cp1252.h"

#include <QMessageBox>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace vestrel {

namespace {

const char* const kAlignProperty = "Align";

int windowStateCode(Qt::WindowStates state) {
    if (state & Qt::WindowMinimized)
        return 2;
    if (state & Qt::WindowMaximized)
        return 1;
    return 0;
}

QByteArray controlName(const QWidget* control) {
    return cp1252::fromUnicode(control->objectName());
}

} // namespace

// TControlItem / TControlList ------------------------------------------------------------------------

void TControlItem::SetControl(QWidget* control) {
    if (!control)
        throw ControlListError("You cannot set Control to nil");
    if (m_collection) {
        for (int i = 0; i < m_collection->Count(); ++i) {
            const TControlItem& other = m_collection->Items(i);
            if (&other != this && other.Control() == control)
                throw ControlListError("Control already exists in list.");
        }
    }
    m_control = control;
}

void TControlItem::AssignTo(TControlItem& dest) const {
    dest.SetControl(m_control);
}

QString TControlItem::GetDisplayName() const {
    if (!m_control)
        return QStringLiteral("TControlItem");
    if (!m_control->objectName().isEmpty())
        return m_control->objectName();
    return QString::fromLatin1(m_control->metaObject()->className());
}

TControlItem& TControlList::Add() {
    m_items.push_back(std::make_unique<TControlItem>(this));
    return *m_items.back();
}

// TFormSaver -----------------------------------------------------------------------------------------

std::function<void(const QString&)>& TFormSaver::ErrorBox() {
    static std::function<void(const QString&)> box = [](const QString& text) {
        QMessageBox::critical(nullptr, QString(), text);
    };
    return box;
}

TFormSaver::TFormSaver(QWidget* owner, DesktopScreen* screen)
    : QObject(owner)
    , m_form(owner)
    , m_screen(screen ? screen : &systemDesktopScreen()) {
    if (!owner)
        return;
    bool removed = false;
    const QObjectList children = owner->children();
    for (QObject* child : children) {
        auto* other = qobject_cast<TFormSaver*>(child);
        if (other && other != this) {
            // Taken off the form: it no longer belongs to it, restores nothing and saves nothing.
            other->setParent(nullptr);
            other->m_form = nullptr;
            other->deleteLater();
            removed = true;
        }
    }
    if (removed && ErrorBox())
        ErrorBox()(QStringLiteral("Sorry, but only one component of this type allowed.\n"
                                  "Previous components of this type will be deleted."));
}

TFormSaver::~TFormSaver() {
    // Without a destroy handler to ride on, save while the form and its controls still exist.
    if (m_loaded && !m_saved && m_form)
        SaveOnDestroy(m_form);
}

QByteArray TFormSaver::formName() const {
    if (!m_form)
        return {};
    if (!m_form->objectName().isEmpty())
        return cp1252::fromUnicode(m_form->objectName());
    QByteArray name = m_form->metaObject()->className();
    return name.mid(name.lastIndexOf(':') + 1);
}

void TFormSaver::Loaded(TFormNotifyEvent* formOnDestroy) {
    if (!m_form)
        return;
    RestoreLayout();
    m_loaded = true;
    if (formOnDestroy) {
        m_previousOnDestroy = *formOnDestroy;
        // The handler may outlive this saver (taken off the form by a newer one): the form's own
        // handler is then still called, and nothing is saved.
        *formOnDestroy = [self = QPointer<TFormSaver>(this), previous = m_previousOnDestroy](QObject* sender) {
            if (self)
                self->SaveOnDestroy(sender);
            else if (previous)
                previous(sender);
        };
    }
}

int TFormSaver::monitorOf(const QRect& frame) const {
    const QList<QRect> monitors = m_screen->monitors();
    int best = 0;
    long long bestArea = 0;
    for (int i = 0; i < monitors.size(); ++i) {
        const QRect common = monitors.at(i).intersected(frame);
        const long long area = common.isEmpty() ? 0 : static_cast<long long>(common.width()) * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = i;
        }
    }
    return best;
}

void TFormSaver::keepOnScreen(QRect& bounds, int monitor) const {
    const QList<QRect> monitors = m_screen->monitors();
    const QRect primary = monitors.value(0);
    bool onSomeMonitor = false;
    for (const QRect& m : monitors)
        onSomeMonitor = onSomeMonitor || m.intersects(bounds);
    // A form stored on another monitor stays there, unless that monitor is gone.
    if (monitor != 0 && onSomeMonitor)
        return;
    if (primary.isEmpty())
        return;
    bounds.setWidth(std::min(bounds.width(), primary.width()));
    bounds.setHeight(std::min(bounds.height(), primary.height()));
    const int rightExcess = bounds.x() + bounds.width() - (primary.x() + primary.width());
    if (rightExcess > 0)
        bounds.moveLeft(bounds.x() - rightExcess);
    const int bottomExcess = bounds.y() + bounds.height() - (primary.y() + primary.height());
    if (bottomExcess > 0)
        bounds.moveTop(bounds.y() - bottomExcess);
    bounds.moveLeft(std::max(bounds.x(), primary.x()));
    bounds.moveTop(std::max(bounds.y(), primary.y()));
}

void TFormSaver::RestoreLayout() {
    if (regKey.isEmpty() || !m_form)
        return;
    const QByteArray name = formName();
    try {
        RegistryIniFile ini(RegistryHive::CurrentUser);
        const QByteArray key = cp1252::fromUnicode(regKey);
        // Without the key nothing is stored: every read below gives its default, so the design
        // bounds (or the positive fallbacks) are kept on the primary screen and the state is left.
        ini.OpenKey(key, false);
        const int state = ini.ReadInteger(name, "WindowState", -1);
        QRect bounds(m_form->pos(), m_form->size());
        if (state != 1) {
            const auto storedOr = [&](const char* ident, int current, int fallback, int minimum) {
                const int stored = ini.ReadInteger(name, ident, -1);
                if (stored != -1 && stored >= minimum)
                    return stored;
                return fallback > 0 ? fallback : current;
            };
            // -1 means nothing stored; a size of zero or less cannot be a saved window either.
            bounds =
                QRect(storedOr("Left", bounds.x(), mLeft, INT_MIN), storedOr("Top", bounds.y(), mTop, INT_MIN),
                      storedOr("Width", bounds.width(), mWidth, 1), storedOr("Height", bounds.height(), mheight, 1));
        }
        const int monitor = ini.ReadInteger(name, "MonitorNum", 0);
        keepOnScreen(bounds, monitor);
        m_form->move(bounds.topLeft());
        m_form->resize(bounds.size());
        switch (state) {
        case 0:
            m_form->setWindowState(m_form->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
            break;
        case 1:
            m_form->setWindowState((m_form->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
            break;
        case 2:
            m_form->setWindowState(m_form->windowState() | Qt::WindowMinimized);
            break;
        default:
            break;
        }

        m_formName = name;
        captureForm();
        m_monitorNum = monitor;

        if (!ini.OpenKey(key + '\\' + name, false))
            return;
        for (int i = 0; i < m_childToSave.Count(); ++i) {
            QWidget* control = m_childToSave.Items(i).Control();
            if (!control || control->objectName().isEmpty())
                continue;
            const QByteArray section = controlName(control);
            const int align = ini.ReadInteger(section, "Align", control->property(kAlignProperty).toInt());
            const int left = ini.ReadInteger(section, "Left", control->x());
            const int top = ini.ReadInteger(section, "Top", control->y());
            const int width = ini.ReadInteger(section, "Width", control->width());
            const int height = ini.ReadInteger(section, "Height", control->height());
            const int visible = ini.ReadInteger(section, "Visible", control->isHidden() ? 0 : 1);
            control->setProperty(kAlignProperty, std::clamp(align, 0, 6));
            control->move(left, top);
            control->resize(std::max(0, width), std::max(0, height));
            control->setVisible(visible != 0);
        }
    } catch (const std::exception& e) {
        // A damaged or unreadable store ends the restore; the form keeps what it has so far.
        qCWarning(lcComponents).noquote() << "cannot restore the layout of" << m_form->objectName() << "-" << e.what();
    }
}

void TFormSaver::captureForm() {
    m_width = m_form->width();
    m_height = m_form->height();
    m_left = m_form->x();
    m_top = m_form->y();
    m_windowState = windowStateCode(m_form->windowState());
    m_monitorNum = monitorOf(m_form->frameGeometry());
}

void TFormSaver::SaveLayout() {
    if (regKey.isEmpty() || m_formName.isEmpty())
        return;
    try {
        RegistryIniFile ini(RegistryHive::CurrentUser);
        const QByteArray key = cp1252::fromUnicode(regKey);
        if (!ini.OpenKey(key, true))
            return;
        ini.WriteIntegers(m_formName, {{"Left", m_left},
                                       {"Top", m_top},
                                       {"Width", m_width},
                                       {"Height", m_height},
                                       {"MonitorNum", m_monitorNum},
                                       {"WindowState", m_windowState}});
        for (int i = 0; i < m_childToSave.Count(); ++i) {
            const QWidget* control = m_childToSave.Items(i).Control();
            if (!control || control->objectName().isEmpty())
                continue;
            ini.CloseKey();
            if (!ini.OpenKey(key + '\\' + m_formName, true))
                return;
            ini.WriteIntegers(controlName(control), {{"Left", control->x()},
                                                     {"Top", control->y()},
                                                     {"Width", control->width()},
                                                     {"Height", control->height()},
                                                     {"Align", control->property(kAlignProperty).toInt()},
                                                     {"Visible", control->isHidden() ? 0 : 1}});
        }
    } catch (const std::exception& e) {
        // A store that cannot be written keeps its previous layout; closing the form goes on.
        qCWarning(lcComponents).noquote() << "cannot save the layout of" << m_formName << "-" << e.what();
    }
}

void TFormSaver::SaveOnDestroy(QObject* Sender) {
    m_saved = true;
    if (m_form) {
        captureForm();
        SaveLayout();
    }
    if (m_previousOnDestroy)
        m_previousOnDestroy(Sender);
}

} // namespace vestrel
