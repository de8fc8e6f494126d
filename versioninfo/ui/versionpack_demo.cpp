// Shows the version-information component and the version label on a file (by default this
// program): the component fills four labels and a list view, the labels show one item each.
// Usage: versionpack-demo [FILE] [--screenshot PNG]  (with --screenshot: save the window and end)
#include "versioninfo/ui/VersInfo.h"
#include "versioninfo/ui/Verslab.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace vestrel;
using namespace vestrel::versioninfo;

int main(int argc, char* argv[]) {
    // The command line is read before the application object exists, so --help needs no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Shows the version widgets of libversionpack on a program file."_s);
    parser.addHelpOption();
    const QCommandLineOption screenshot(u"screenshot"_s, u"Save the window as PNG and end."_s, u"PNG"_s);
    parser.addOption(screenshot);
    parser.addPositionalArgument(u"FILE"_s, u"The file to show (default: this program)."_s, u"[FILE]"_s);
    const QString help = parser.helpText().replace(u"<executable_name>"_s, u"versionpack-demo"_s);
    if (!parser.parse(arguments) || parser.positionalArguments().size() > 1) {
        const QString error = parser.errorText().isEmpty() ? u"at most one file"_s : parser.errorText();
        std::fprintf(stderr, "versionpack-demo: %s\n%s", qPrintable(error), qPrintable(help));
        return 2;
    }
    if (parser.isSet(u"help"_s)) {
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    const QString file = parser.positionalArguments().value(0);

    QApplication app(argc, argv);

    QWidget window;
    window.setWindowTitle(u"Informazioni sulla versione"_s);
    auto* layout = new QVBoxLayout(&window);

    auto* componentBox = new QGroupBox(u"TVersionInfoResource"_s, &window);
    auto* form = new QFormLayout(componentBox);
    auto* product = new QLabel(componentBox);
    auto* version = new QLabel(componentBox);
    auto* description = new QLabel(componentBox);
    auto* copyright = new QLabel(componentBox);
    form->addRow(u"Prodotto:"_s, product);
    form->addRow(u"Versione:"_s, version);
    form->addRow(u"Descrizione:"_s, description);
    form->addRow(u"Copyright:"_s, copyright);
    auto* list = new QTreeWidget(componentBox);
    list->setMinimumHeight(140);
    form->addRow(list);
    layout->addWidget(componentBox);

    auto* resource = new TVersionInfoResource(&window);
    resource->SetFilename(file);
    resource->SetProductLabel(product);
    resource->SetVersionLabel(version);
    resource->SetDescriptionLabel(description);
    resource->SetCopyrightLabel(copyright);
    resource->SetVersionListView(list);

    auto* labelBox = new QGroupBox(u"TVersionLabel"_s, &window);
    auto* labels = new QVBoxLayout(labelBox);
    for (const TVersionResources item :
         {vrFileVersion, vrShortFileVersion, vrCompanyName, vrOriginalFilename, vrFlags, vrDateTime, vrFileSize}) {
        auto* label = new TVersionLabel(labelBox);
        label->SetFilename(file);
        label->SetVersionResource(item);
        labels->addWidget(label);
    }
    layout->addWidget(labelBox);
    window.resize(560, 560);
    window.show();

    if (parser.isSet(screenshot)) {
        // After the component's own loading has run and the window has been drawn.
        QTimer::singleShot(300, &window, [&] {
            const bool saved = window.grab().save(parser.value(screenshot), "PNG");
            app.exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
