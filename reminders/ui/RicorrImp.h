#pragma once

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QSplitter;
class QTableView;
class QToolButton;

namespace vestrel {
class MessageBoxes;
} // namespace vestrel

namespace vestrel::reminders {

class RicorrGridModel;
class TDMCltRicorr;

// The modal dialog in which the office maintains its reminders: the list on the left, the fields of the
// current reminder on the right, and a detail panel per criterion that turns the chosen weekday, day or
// day and month into SOTTOCRITERIO. Every control is bound to the data module's RICORRENZE dataset.
// OK posts and commits; Cancel (Esc, close box) cancels the edit and rolls back what was posted.
class TRicorrImpDlg : public QDialog {
    Q_OBJECT
public:
    // The navigator's buttons, in the order of their hints.
    enum NavigatorButton { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };
    static constexpr int NavigatorButtonCount = 10;

    TRicorrImpDlg(TDMCltRicorr& dm, MessageBoxes& boxes, QWidget* parent = nullptr);
    ~TRicorrImpDlg() override;

    void FormCreate();
    void FormShow();
    void FormDestroy();
    // Ends the dialog: with OK the pending edit is posted and everything committed; otherwise the edit
    // is cancelled and what was posted rolled back. False (the dialog stays open) when OK cannot store
    // the edit, so that nothing typed is lost.
    bool FormCloseQuery(bool ok);

    void ShowCriterionPanel();
    void HideAllPanels();
    void LocalizeCaptions();
    void ComboMesiPropertiesEditValueChanged();
    void ComboGiornoMensilePropertiesCloseUp();
    void ComboDayPropertiesCloseUp();
    void cxDBImageComboBox1PropertiesCloseUp();
    void NavigatorClick(NavigatorButton button);

    // Controls, named as designed.
    QWidget* Panel1 = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QWidget* Panel5 = nullptr;
    QTableView* cxGrid1 = nullptr;
    QWidget* DBNavigator1 = nullptr;
    QToolButton* NavigatorButtons[NavigatorButtonCount] = {};
    QSplitter* Splitter1 = nullptr;
    QLineEdit* cxDBTextEdit1 = nullptr;
    QCheckBox* cxDBCheckBox1 = nullptr;
    QLabel* Label7 = nullptr;
    QComboBox* cxDBImageComboBox1 = nullptr;
    QWidget* PanelUnico = nullptr;
    QLabel* Label10 = nullptr;
    QWidget* PanelGiorno = nullptr;
    QLabel* Label6 = nullptr;
    QWidget* PanelSett = nullptr;
    QLabel* Label5 = nullptr;
    QComboBox* ComboDay = nullptr;
    QWidget* PanelMese = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* ComboGiornoMensile = nullptr;
    QLabel* Label4 = nullptr;
    QWidget* PanelAnno = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboGiorno = nullptr;
    QComboBox* ComboMesi = nullptr;
    QWidget* Panel6 = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* cxDBMemo1 = nullptr;
    QLabel* Label8 = nullptr;
    QComboBox* cxDBLookupComboBox1 = nullptr;
    QLabel* Label9 = nullptr;
    QComboBox* cxDBLookupComboBox2 = nullptr;

    bool UpdatingGuard() const { return m_updatingGuard; }

protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void buildDetailPanels(QWidget* parent);
    void showPanel(QWidget* panel);
    void loadRow();
    void selectCurrentInGrid();
    void gridRowActivated();
    void fillLookups();
    // Runs a change of the dataset; a database error is shown and the dialog goes on.
    bool tryDataSet(const std::function<void()>& change);
    void editField(const char* field, const QByteArray& value);
    void writeDetail(const QByteArray& detail);

    TDMCltRicorr& m_dm;
    MessageBoxes& m_boxes;
    RicorrGridModel* m_model = nullptr;
    QSortFilterProxyModel* m_sorted = nullptr;
    bool m_updatingGuard = false;
    bool m_loadingRow = false;
    bool m_shownOnce = false;
};

} // namespace vestrel::reminders
