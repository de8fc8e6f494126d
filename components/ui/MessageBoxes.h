#pragma once

#include <QString>

#include <functional>
#include <utility>

class QWidget;

namespace vestrel {

// The message boxes and questions of a program's windows. The program shows real ones; tests put a
// double in their place that records each text and gives the answers they choose.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void information(const QString& text) = 0;
    virtual void warning(const QString& text) = 0;
    virtual void error(const QString& text) = 0;
    // Information icon, buttons Yes and No; true for Yes.
    virtual bool question(const QString& text) = 0;

    enum class NoticeKind { Information, Error, Question };
    // Shows a box without waiting for it: the caller goes on and the windows stay usable while it is
    // open. `closed` runs once when the user dismisses it: true for Yes (questions) and for OK.
    // By default it waits like the calls above, which suits doubles that answer at once.
    virtual void notify(NoticeKind kind, const QString& text, std::function<void(bool yes)> closed);
};

class QtMessageBoxes : public MessageBoxes {
public:
    // `title` heads every box (each program shows its own name there).
    explicit QtMessageBoxes(QString title, QWidget* parent = nullptr)
        : m_title(std::move(title))
        , m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    // Once the program has chosen its language, the title in that language.
    void setTitle(QString title) { m_title = std::move(title); }

    void information(const QString& text) override;
    void warning(const QString& text) override;
    void error(const QString& text) override;
    bool question(const QString& text) override;
    void notify(NoticeKind kind, const QString& text, std::function<void(bool yes)> closed) override;

private:
    QString m_title;
    QWidget* m_parent;
};

} // namespace vestrel
