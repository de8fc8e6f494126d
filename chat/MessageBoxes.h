#pragma once

#include <QString>

class QWidget;

namespace vestrel {

// The message boxes and questions of the chat windows. The program shows real ones; tests put a
// double in their place that records each text and gives the answers they choose.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void information(const QString& text) = 0;
    virtual void warning(const QString& text) = 0;
    virtual void error(const QString& text) = 0;
    // Information icon, buttons Yes and No; true for Yes.
    virtual bool question(const QString& text) = 0;
};

class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr)
        : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    void information(const QString& text) override;
    void warning(const QString& text) override;
    void error(const QString& text) override;
    bool question(const QString& text) override;

private:
    QWidget* m_parent;
};

} // namespace vestrel
