// SPDX-License-Identifier: Apache-2.0
#include <QApplication>
#include <QFile>
#include <QStringList>

#include <exception>

#include "dialogs/About.h"
#include "windows/Main.h"
#include "dialogs/Prompt.h"
#include "work/TerminationSignals.h"
#include "dialogs/ToolkitTranslation.h"

int main(int argc, char* argv[])
{
    // Every argument names a record file, also one that looks like an option,
    // so the toolkit is given none of them to interpret.
    QStringList paths;
    for (int i = 1; i < argc; ++i)
        paths.append(QFile::decodeName(argv[i]));
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    // Lets the desktop match the windows to veltrane.desktop, and so to its icon.
    QApplication::setDesktopFileName(QStringLiteral("veltrane"));
    InstallToolkitTranslation(app);

    try {
        TFormMain mainForm;
        TAboutBox aboutBox(&mainForm);
        AboutBox = &aboutBox;
        mainForm.setAboutBox(&aboutBox);

        // Asked to end from outside, the viewer ends as its Exit command ends
        // it: work is cancelled and the scratch and index files go.
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &mainForm, [&mainForm] {
            mainForm.close();
            QApplication::exit(0);
        });

        mainForm.setCommandLine(paths);
        mainForm.show();
        QApplication::exec();
        AboutBox = nullptr;
    } catch (const std::exception& error) {
        // Nothing the viewer does throws; a failure of the library (out of
        // memory) is still told to the user rather than ending without a word.
        AboutBox = nullptr;
        Prompt().showError(QString::fromLocal8Bit(error.what()));
    }
    return 0;
}
