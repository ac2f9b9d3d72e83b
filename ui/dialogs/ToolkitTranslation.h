// SPDX-License-Identifier: Apache-2.0
#pragma once

class QCoreApplication;

/// Installs the toolkit's own Chinese texts (qtbase_zh_CN from the toolkit's
/// translations folder) into app, so that file dialogs and standard buttons
/// read in Chinese as the rest of the viewer does. Buttons whose captions the
/// viewer sets itself keep them. False, and nothing installed, when the
/// translation is not there (the toolkit's English texts stay).
bool InstallToolkitTranslation(QCoreApplication& app);
