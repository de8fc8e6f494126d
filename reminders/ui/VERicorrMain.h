#pragma once

#include "components/ui/SlidePopUp.h"
#include "reminders/DMMain.h"
#include "reminders/StartupArguments.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace vestrel {
class MessageBoxes;
} // namespace vestrel

namespace vestrel::reminders {

class TMsMsgFrm;
class TRicorrImpDlg;

// The icon painted in the reminders' popups and copied into the message window.
QImage ReminderIcon();

// Sets up the popup component the way the reminders show their popups: 148 x 120, staying until
// clicked, stacked, sliding, the text as a link that opens nothing by itself.
void ConfigureReminderPopUp(TSlidePopUp& popUp);

// The popup component as the data module shows reminders with it.
class SlidePopUpReminders final : public ReminderPopups {
public:
    explicit SlidePopUpReminders(TSlidePopUp& popUp)
        : m_popUp(popUp) {}
    bool ShowPopUp(qint32 tag, const QString& title, const QString& text) override;
    int PopupCount() const override { return m_popUp.PopupCount(); }

private:
    TSlidePopUp& m_popUp;
};

// The hidden main window of the reminders client. It decides the mode from the command line, owns the
// popup component and the data module, opens the message window when a popup's text is clicked, and
// the editor when started without arguments. It is never shown.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    // `screen` is the desktop the popups are placed on; null means the real screen.
    TForm1(MessageBoxes& boxes, const Clock& clock, DesktopScreen* screen = nullptr);
    ~TForm1() override;

    // Runs the start-up for `arguments` (without the program name). Returns the exit status when the
    // program must end at once (too many arguments), nothing when it goes on.
    std::optional<int> FormCreate(const QStringList& arguments);

    TSlidePopUp& SlidePopUp1() { return *m_slidePopUp1; }
    TDMCltRicorr* DMCltRicorr() const { return m_dm.get(); }

    // A click on the text of a popup: shows its reminder in the message window and records the
    // dismissal when the window closes with "Non mostrare ancora".
    void SlidePopUp1URLClick(QObject* Sender, const QString& URL);

    // How the modal windows are run; tests answer them instead of a user.
    std::function<int(TMsMsgFrm&)> ShowMessageWindow;
    std::function<void(TRicorrImpDlg&)> ShowEditor;

signals:
    // The program should end with this status.
    void terminateRequested(int status);

private:
    void StartEditor();
    void StartReminders(const ReminderFilters& filters);
    void createDataModule();
    void editorRequested();
    void connectionFailed(const QString& message);

    MessageBoxes& m_boxes;
    const Clock& m_clock;
    std::unique_ptr<TSlidePopUp> m_slidePopUp1;
    std::unique_ptr<SlidePopUpReminders> m_popups;
    std::unique_ptr<TDMCltRicorr> m_dm;
};

} // namespace vestrel::reminders
