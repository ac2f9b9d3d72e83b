#include "Fileask.h"

// Placeholder until the dialogs land.
TFormSaveAsk::TFormSaveAsk(QWidget* owner) : QDialog(owner), Label1(), BtnAppend(), BtnOverwrite(), BtnCancel() {}
int AskOverwrite(QWidget*) { return 3; }
