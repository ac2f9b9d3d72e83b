// SPDX-License-Identifier: Apache-2.0
#include "dialogs/ToolkitTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallToolkitTranslation(QCoreApplication& app)
{
    // The interface is Chinese whatever the user's locale, so the catalogue is
    // named rather than chosen from the locale.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
