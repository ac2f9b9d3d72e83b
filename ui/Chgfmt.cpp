#include "Chgfmt.h"

// Placeholder until the dialogs land.
TFormChgFmt::TFormChgFmt() : GroupBox1(), BitBtn1(), BitBtn2(), RBNormal(), RBSpecial1(), RBSpecial2() {}
void AskDelimiterMode() {}
