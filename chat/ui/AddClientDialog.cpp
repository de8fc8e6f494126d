#include "chat/ui/AddClientDialog.h"

#include "chat/ui/LocalTexts.h"
#include "chat/ui/ShellLook.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

Taggiungi::Taggiungi(QWidget* owner)
    : QDialog(owner) {
    setObjectName(u"aggiungi"_s);
    setWindowTitle(u"Aggiungi Client"_s);
    setFixedSize(178, 129);
    paintSkyBlue(this);
    useDialogFont(this);
    Label1 = new QLabel(u"Nick Client"_s, this);
    Label1->move(56, 24);
    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(32, 40, 121, 24);
    Edit1->setToolTip(u"Inserire il nick name del client non connesso"_s);
    Button1 = new QPushButton(u"Ok"_s, this);
    Button1->setGeometry(8, 88, 75, 25);
    Button1->setToolTip(u"Salva"_s);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button2 = new QPushButton(u"Annulla"_s, this);
    Button2->setGeometry(96, 88, 75, 25);
    Button2->setToolTip(u"Annulla"_s);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    Edit1->setFocus();
}

void Taggiungi::FormShow() {
    applyTitle(this, 49792);
    applyText(Button1, 49793);
    applyHint(Button1, 49794);
    applyText(Button2, 49795);
    applyHint(Button2, 49796);
    applyHint(Edit1, 49797);
    applyText(Label1, 49798);
}

} // namespace vestrel::chat
