#include "chat/ui/InfoDialog.h"

#include "chat/UserConfig.h"
#include "chat/ui/LocalTexts.h"
#include "chat/ui/ShellLook.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

TOKBottomDlg::TOKBottomDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(u"OKBottomDlg"_s);
    setWindowTitle(u"Informazioni - Chat Vestrel"_s);
    paintSkyBlue(this);
    auto* layout = new QVBoxLayout(this);
    Text =
        new QLabel(u"La finestra del programma \u00e8 stata chiusa ma l'applicazione rimarr\u00e0 in esecuzione sulla "
                   u"barra delle applicazioni \r\nSi potranno comunque ricevere messaggi! \r\nPer riaprire la "
                   u"finestra fare doppio click sull'icona nella barra delle applicazioni;"_s);
    Text->setFrameShape(QFrame::Box);
    Text->setWordWrap(true);
    Text->setMargin(8);
    Text->setFixedWidth(360);
    layout->addWidget(Text);
    CheckBox1 = new QCheckBox(u"Non mostrare pi\u00f9 questo messaggio"_s);
    layout->addWidget(CheckBox1);
    OKBtn = new QPushButton(u"OK"_s);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TOKBottomDlg::accept);
    layout->addWidget(OKBtn, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TOKBottomDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        applyTitle(this, 49854);
        applyText(CheckBox1, 49855);
        applyText(Text, 49856);
        applyText(OKBtn, 49857);
        adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

void TOKBottomDlg::accept() {
    UserConfigStore::writeRegistryString("Check", CheckBox1->isChecked() ? "0" : "1");
    QDialog::accept();
}

} // namespace vestrel::chat
