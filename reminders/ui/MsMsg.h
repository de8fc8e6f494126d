#pragma once

#include <QDialog>
#include <QImage>

class QFrame;
class QLabel;
class QToolButton;

namespace vestrel::reminders {

struct MemTBRow;

// The message window a click on a popup's text opens: the reminder's title, message and criterion, and
// the button "Non mostrare ancora", which closes it with an accepted result. The close box rejects.
class TMsMsgFrm : public QDialog {
    Q_OBJECT
public:
    static constexpr QPoint DesignedPosition{474, 245};
    static constexpr QSize DesignedClientSize{358, 220};
    static constexpr int DesignedPointSize = 8;

    // `icon` is the popup component's icon bitmap.
    TMsMsgFrm(const QImage& icon, QWidget* parent = nullptr);

    // Fills caption and labels from a due reminder.
    void ShowReminder(const MemTBRow& row);

    void SpeedButton1Click();

    QFrame* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* ImageIco = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* LabelRicorr = nullptr;
    QToolButton* SpeedButton1 = nullptr;
};

} // namespace vestrel::reminders
