#pragma once

#include <QDialog>

#include <functional>
#include <memory>

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
class TRicorrEditor;

// The modal dialog in which the office maintains its reminders: the list on the left, the fields of the
// current reminder on the right, and a detail panel per criterion that turns the chosen weekday, day or
// day and month into SOTTOCRITERIO. Every control shows the data module's RICORRENZE dataset; the
// editor's rules (TRicorrEditor) make every change, and the dialog tells the user what they report.
// OK posts and commits; Cancel (Esc, close box) cancels the edit and rolls back what was posted. After
// a lost connection "Riprova" (or OK) reconnects and writes the edits again.
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
    QPushButton* RetryBtn = nullptr; // shown while the connection is lost
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

    bool UpdatingGuard() const;
    TRicorrEditor& Editor() { return *m_editor; }
    void RetryBtnClick();

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
    // Tells the user why a change of the editor did not go through, and asks which version to keep when
    // another operator saved the row meanwhile; true when the change (or the kept version) is stored.
    bool report(bool ok);
    bool save();
    void editText(const char* field, const QString& text);
    void editValue(const char* field, const QByteArray& value);

    TDMCltRicorr& m_dm;
    MessageBoxes& m_boxes;
    RicorrGridModel* m_model = nullptr;
    QSortFilterProxyModel* m_sorted = nullptr;
    std::unique_ptr<TRicorrEditor> m_editor;
    bool m_loadingRow = false;
    bool m_shownOnce = false;
};

} // namespace vestrel::reminders
