#include "About.h"

// Placeholder until the dialogs land.
TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent), ProgramIcon(), ProductName(), Version(), Copyright(), Label1(), Comments(), OKButton()
{
    setWindowTitle(QStringLiteral("关于"));
}
