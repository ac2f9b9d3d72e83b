#include "Marc.h"

// Placeholder until the record commands land.
void GotoRecordCommand(TFormMarc*) {}
void FindCommand(TFormMarc*) {}
void FindNextCommand(TFormMarc*) {}
void ExtractCommand(TFormMarc*) {}
